// The URL loading error domain and the codes a session gives for transport failures.
#pragma once

#include <cstdint>
#include <string_view>

namespace net {

inline constexpr std::string_view URLErrorDomain = "NSURLErrorDomain";

enum URLErrorCode : std::int64_t {
    URLErrorUnknown = -1,
    URLErrorCancelled = -999,
    URLErrorBadURL = -1000,
    URLErrorTimedOut = -1001,
    URLErrorCannotFindHost = -1003,
    URLErrorCannotConnectToHost = -1004,
    URLErrorNetworkConnectionLost = -1005,
    URLErrorBadServerResponse = -1011,
    URLErrorFileDoesNotExist = -1100,
    URLErrorServerCertificateUntrusted = -1202,
    URLErrorCannotWriteToFile = -3003,
};

} // namespace net
