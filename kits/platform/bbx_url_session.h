// The kits make their URL sessions and configurations only here. On Linux the platform session (our
// net::URLSession on libcurl) is always usable, so every factory hands out net objects; the kit's own
// fallback session is not built. Background configurations do not exist (nothing). Every kit session
// keeps the kits' network rules, whatever configuration it is made with.
#pragma once

#include "foundation/error.h"
#include "net/url_session.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {
class OperationQueue;
}

namespace kits {

inline constexpr std::string_view BBXURLSessionDownloadTaskErrorDomain = "BBXURLSessionDownloadTaskError";

// The kits' network rules: https only for requests and redirect targets (a refused URL is logged once
// and nothing is connected), at most five redirects, answers of at most 1 MiB, download files in the
// kits' downloads folder under the caches folder.
inline constexpr long BBXURLSessionMaximumRedirects = 5;
inline constexpr std::uint64_t BBXURLSessionMaximumResponseBytes = 1 << 20;

class BBXURLSessionConfiguration {
public:
    // Both with the kits' rules.
    static net::URLSessionConfiguration defaultSessionConfiguration();
    static net::URLSessionConfiguration ephemeralSessionConfiguration();
    // The configuration with the kits' rules in force (looser values tightened, the rest kept).
    static net::URLSessionConfiguration withKitRules(net::URLSessionConfiguration configuration);
    // Caches / "io.tessmark.sdk.mac.data" / "downloads".
    static std::filesystem::path downloadDirectory();
    // Linux has no background sessions.
    static std::optional<net::URLSessionConfiguration>
    backgroundSessionConfigurationWithIdentifier(std::string_view identifier);
};

class BBXURLSession {
public:
    // Always true on Linux: the session on libcurl is the platform's.
    static bool NSURLSessionShouldBeUsed();
    // Nothing without a configuration; a delegate without a queue gets newDefaultDelegateQueue(). The
    // session keeps the kits' rules (withKitRules).
    static std::shared_ptr<net::URLSession>
    sessionWithConfiguration(const std::optional<net::URLSessionConfiguration>& configuration,
                             std::shared_ptr<net::URLSessionDelegate> delegate = nullptr,
                             std::shared_ptr<foundation::OperationQueue> delegateQueue = nullptr);
    // A queue running one operation at a time.
    static std::shared_ptr<foundation::OperationQueue> newDefaultDelegateQueue();
    // Removes the download files that ended processes left in the downloads folder (at start), or
    // with `includingRunning` every one (at quit).
    static void removeDownloadFiles(bool includingRunning);
    // Whether a kit session may connect to the URL: it is https.
    static bool isSecureURL(std::string_view url);
    // A download whose file could not be written fails with "BBXURLSessionDownloadTaskError" -1;
    // every other error passes unchanged.
    static std::optional<foundation::Error> downloadTaskError(const std::optional<foundation::Error>& error);
};

} // namespace kits
