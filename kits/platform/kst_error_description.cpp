// Error values as log text.
#include "kits/platform/kst_error_description.h"

#include "foundation/property_list_json.h"

namespace kits {

std::string KSTErrorDescription(const foundation::Error& error)
{
    std::string text = "Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \""
                       + error.localizedDescription + "\"";
    if (!error.userInfo.empty())
        text += " UserInfo=" + foundation::jsonFromPropertyList(error.userInfo);
    return text;
}

} // namespace kits
