// The analytics kit's logger, printing through the kits' serialised console.
#include "kits/analytics/tly_logger.h"

#include "kits/platform/kit_log.h"

#include <string>

namespace kits {

TLYLogger& TLYLogger::sharedLogger()
{
    // Never destroyed: kit threads may still log while the process exits.
    static TLYLogger* logger = new TLYLogger();
    return *logger;
}

void TLYLogger::log(std::string_view text) const
{
    if (!debugMode())
        return;
    std::string line = "[Tally] ";
    line += text;
    kitLog(line);
}

void TLYLogger::logWithLabel(std::string_view label, std::string_view text) const
{
    if (!debugMode())
        return;
    std::string line = "[Tally:";
    line += label;
    line += "] ";
    line += text;
    kitLog(line);
}

} // namespace kits
