// Value descriptions shared by the URL builder and the multipart encoder.
#include "kits/platform/kst_value_description.h"

#include "foundation/property_list_json.h"

#include <charconv>

namespace kits {

std::string KSTValueDescription(const foundation::PropertyListValue& value)
{
    if (const auto* text = value.get<std::string>())
        return *text;
    if (const auto* integer = value.get<std::int64_t>())
        return std::to_string(*integer);
    if (const auto* flag = value.get<bool>())
        return *flag ? "1" : "0";
    if (const auto* real = value.get<double>()) {
        // The shortest text that reads back as the same number ("0.5", "7", "1e+300").
        char buffer[32];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, *real);
        return std::string(buffer, written.ptr);
    }
    return foundation::jsonFromPropertyList(value);
}

} // namespace kits
