// The URL loading error domain and the codes a session gives for transport failures.
#pragma once

#include <cstdint>
#include <string_view>

namespace net {

inline constexpr std::string_view URLErrorDomain = "NSURLErrorDomain";

enum URLErrorCode : std::int64_t {
    URLErrorCancelled = -999,
    URLErrorTimedOut = -1001,
    URLErrorCannotFindHost = -1003,
    URLErrorCannotConnectToHost = -1004,
    URLErrorNetworkConnectionLost = -1005,
    URLErrorServerCertificateUntrusted = -1202,
};

} // namespace net
