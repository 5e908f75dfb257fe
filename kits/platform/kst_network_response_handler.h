// Classifies a finished kit request into success, other, client error, retry or rate limited, builds
// the "KSTNetworkError" values and reads "Retry-After" and "X-Request-Id". Shared by the kit network
// client and the crash and analytics kits' uploads; stateless, so any thread may call it.
#pragma once

#include "foundation/error.h"
#include "net/url_request.h"
#include "net/url_response.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

inline constexpr std::string_view KSTNetworkErrorDomain = "KSTNetworkError";

enum class KSTNetworkResponseType : int {
    success = 0,
    other = 1, // unexpected status, no status, or a content type that does not match
    clientError = 2,
    retry = 3,       // server error or time-out status
    rateLimited = 4, // 420, 429
};

// Error codes of the "KSTNetworkError" domain.
enum KSTNetworkErrorCode : std::int64_t {
    KSTNetworkErrorRetryable = -1,  // a response of type retry or rate limited
    KSTNetworkErrorNoTask = -3,     // the session gave no task for the request
    KSTNetworkErrorUnexpected = -4, // a response of type other
    KSTNetworkErrorClient = -5,     // a response of type client error
    KSTNetworkErrorRetryLimit = -6, // a retry was wanted but the tries reached the limit
};

class KSTNetworkResponseHandler {
public:
    using CompletionBlock = std::function<void(bool retry, std::optional<foundation::Error> error)>;
    // A transport error is retried when it is one of the URL domain's connection failures (time-out,
    // host not found, refused, lost or closed before an answer, a broken TLS handshake) and passed on
    // unchanged; a refused server certificate, a cancel or an https refusal are not retried. Otherwise
    // the response is classified (a success whose content type does not match becomes an error of
    // type other).
    static void handleCompletedResponse(const net::HTTPURLResponse* response, const net::URLRequest& request,
                                        const std::optional<foundation::Error>& error, const CompletionBlock& block);
    // The type and the status (0 when the response has none).
    static void clientResponseType(const net::HTTPURLResponse* response,
                                   const std::function<void(KSTNetworkResponseType type, long status)>& handler);
    static KSTNetworkResponseType responseTypeForStatus(std::optional<long> status);
    // Whether a transport error is a connection failure that a later try may get past.
    static bool isRetryableTransportError(const foundation::Error& error);
    // Whether the response's media type is one the request's "Accept" names: type and subtype compared
    // without regard to case, parameters (a charset among them) ignored, "*/*" and "type/*" honoured.
    // No "Accept" matches anything; a response without "Content-Type" matches nothing else.
    static bool contentTypeForResponseMatchesRequest(const net::HTTPURLResponse* response,
                                                     const net::URLRequest& request);
    // Nothing for a success; else the error of the type with "type", "status_code", "request_id" and
    // "content_type" in its user information.
    static std::optional<foundation::Error> errorForResponse(const net::HTTPURLResponse* response,
                                                             KSTNetworkResponseType type, long status);
    static foundation::Error errorForCode(std::int64_t code, foundation::PropertyListDictionary userInfo);
    // "Retry-After" in seconds: 2.0 when absent, negative or not finite; a text that starts with no
    // number (a date) reads as 0.
    static double retryValueForResponse(const net::HTTPURLResponse* response);
    // "X-Request-Id", or the empty string.
    static std::string requestIdForResponse(const net::HTTPURLResponse* response);
    static std::optional<std::string> headerForResponseWithKey(const net::HTTPURLResponse* response,
                                                               std::string_view key);
};

} // namespace kits
