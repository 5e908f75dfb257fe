// Serialised console lines for the kits.

#include "kits/platform/kit_log.h"

#include <iostream>
#include <mutex>
#include <string>

namespace kits {

void kitLog(std::string_view line)
{
    static std::mutex consoleMutex;
    std::string whole(line);
    whole += '\n';
    std::lock_guard lock(consoleMutex);
    std::cerr.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    std::cerr.flush();
}

} // namespace kits
