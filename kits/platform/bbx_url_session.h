// The kits make their URL sessions and configurations only here. On Linux the platform session (our
// net::URLSession on libcurl) is always usable, so every factory hands out net objects; the kit's own
// fallback session is not built. Background configurations do not exist (nothing).
#pragma once

#include "foundation/error.h"
#include "net/url_session.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {
class OperationQueue;
}

namespace kits {

inline constexpr std::string_view BBXURLSessionDownloadTaskErrorDomain = "BBXURLSessionDownloadTaskError";

class BBXURLSessionConfiguration {
public:
    static net::URLSessionConfiguration defaultSessionConfiguration();
    static net::URLSessionConfiguration ephemeralSessionConfiguration();
    // Linux has no background sessions.
    static std::optional<net::URLSessionConfiguration>
    backgroundSessionConfigurationWithIdentifier(std::string_view identifier);
};

class BBXURLSession {
public:
    // Always true on Linux: the session on libcurl is the platform's.
    static bool NSURLSessionShouldBeUsed();
    // Nothing without a configuration; a delegate without a queue gets newDefaultDelegateQueue().
    static std::shared_ptr<net::URLSession>
    sessionWithConfiguration(const std::optional<net::URLSessionConfiguration>& configuration,
                             std::shared_ptr<net::URLSessionDelegate> delegate = nullptr,
                             std::shared_ptr<foundation::OperationQueue> delegateQueue = nullptr);
    // A queue running one operation at a time.
    static std::shared_ptr<foundation::OperationQueue> newDefaultDelegateQueue();
    // A download whose file could not be written fails with "BBXURLSessionDownloadTaskError" -1;
    // every other error passes unchanged.
    static std::optional<foundation::Error> downloadTaskError(const std::optional<foundation::Error>& error);
};

} // namespace kits
