// Decides, for each finished upload task, whether to retry it: the kit platform's response handler
// classifies the answer, and a back-off timer per upload name spaces the retries (at most 11 per name,
// then error -6). Server-trust challenges are answered against the pinned roots, in debug mode too.
#pragma once

#include "foundation/error.h"
#include "kits/analytics/tly_backoff_timer.h"
#include "kits/platform/kst_certificate_pinner.h"
#include "net/url_request.h"
#include "net/url_response.h"
#include "net/url_session.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

// Error codes of the "KSTNetworkError" domain made by the uploader and the retry handler.
enum TLYUploadErrorCode : std::int64_t {
    TLYUploadErrorNoRequest = -2,        // no request, or an empty file path or unique name
    TLYUploadErrorRetriesExhausted = -6, // the retries of a name are used up
    TLYUploadErrorNoBackoffTimer = -7,   // a retry was wanted but the name was empty
    TLYUploadErrorUnreadableFile = -8,   // the packaged file cannot be read
};

// User-information keys of those errors.
inline constexpr std::string_view TLYErrorFilePathKey = "NSFilePath";
inline constexpr std::string_view TLYErrorFailingURLKey = "NSErrorFailingURLKey";
inline constexpr std::string_view TLYErrorUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr std::string_view TLYUploaderUniqueNameKey = "TLYUploaderUniqueName";
inline constexpr std::string_view TLYNetworkRetryHandlerIdentifierKey = "TLYNetworkRetryHandlerIdentifier";

class TLYNetworkRetryHandler {
public:
    using CompletionHandler = std::function<void(bool retry, std::optional<foundation::Error> error)>;
    static constexpr std::uint64_t defaultMaxRetries = 10;

    // The pinner holds the kit platform's pinned certificates.
    TLYNetworkRetryHandler();

    const KSTCertificatePinner& certPinner() const { return certPinner_; }

    // The pinned roots decide (accept or cancel), debug mode or not.
    net::ChallengeDisposition handleChallenge(const net::ServerTrust& trust) const;

    // Calls `completion` at once with NO and an error, or, for a retry, after the name's next back-off
    // interval with YES. Retry counts 0 to maxRetries run again, so a name gets maxRetries + 1 retries.
    void handleCompletedRequest(const net::URLRequest& request, const net::HTTPURLResponse* response,
                                const std::string& identifier, const std::optional<foundation::Error>& error,
                                CompletionHandler completion);
    void handleCompletedRequest(const net::URLRequest& request, const net::HTTPURLResponse* response,
                                const std::string& identifier, std::uint64_t maxRetries,
                                const std::optional<foundation::Error>& error, CompletionHandler completion);

    // The name's timer, made with `initialRetryValue` when it has none yet; nothing for an empty name.
    // Timers stay for the life of the handler.
    std::shared_ptr<TLYBackoffTimer> timerForIdentifier(const std::string& identifier, double initialRetryValue);
    static double retryValueForResponse(const net::HTTPURLResponse* response);
    // The -6 or -7 error of a name; the response handler's error, when there is one, is kept in it as
    // the underlying error.
    static foundation::Error errorWithCode(std::int64_t code, const std::string& identifier,
                                           const net::URLRequest& request,
                                           const std::optional<foundation::Error>& handlerError);

private:
    const KSTCertificatePinner certPinner_;
    std::mutex mutex_; // the map: task callbacks run on the event queue, tests call from anywhere
    std::map<std::string, std::shared_ptr<TLYBackoffTimer>> retryTimerMap_;
};

} // namespace kits
