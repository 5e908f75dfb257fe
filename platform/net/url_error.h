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
    URLErrorHTTPTooManyRedirects = -1007,
    URLErrorBadServerResponse = -1011,
    URLErrorAppTransportSecurityRequiresSecureConnection = -1022, // not https where only https may go
    URLErrorFileDoesNotExist = -1100,
    URLErrorDataLengthExceedsMaximum = -1103, // the answer's body passed the session's cap
    URLErrorSecureConnectionFailed = -1200,   // the TLS handshake broke down (not a trust decision)
    URLErrorServerCertificateUntrusted = -1202,
    URLErrorCannotWriteToFile = -3003,
};

} // namespace net
