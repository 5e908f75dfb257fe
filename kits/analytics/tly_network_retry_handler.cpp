// The upload retry decision and the uploads' server-trust answer.
#include "kits/analytics/tly_network_retry_handler.h"

#include "kits/platform/kst_network_response_handler.h"

namespace kits {

TLYNetworkRetryHandler::TLYNetworkRetryHandler() : certPinner_(KSTPinnedCertificates()) {}

net::ChallengeDisposition TLYNetworkRetryHandler::handleChallenge(const net::ServerTrust& trust) const
{
    return certPinner_.dispositionForServerTrust(trust);
}

void TLYNetworkRetryHandler::handleCompletedRequest(const net::URLRequest& request,
                                                    const net::HTTPURLResponse* response, const std::string& identifier,
                                                    const std::optional<foundation::Error>& error,
                                                    CompletionHandler completion)
{
    handleCompletedRequest(request, response, identifier, defaultMaxRetries, error, std::move(completion));
}

void TLYNetworkRetryHandler::handleCompletedRequest(const net::URLRequest& request,
                                                    const net::HTTPURLResponse* response, const std::string& identifier,
                                                    std::uint64_t maxRetries,
                                                    const std::optional<foundation::Error>& error,
                                                    CompletionHandler completion)
{
    if (!completion)
        return;
    KSTNetworkResponseHandler::handleCompletedResponse(
        response, request, error, [&](bool retry, std::optional<foundation::Error> handlerError) {
            if (!retry) {
                completion(false, std::move(handlerError));
                return;
            }
            const auto timer = timerForIdentifier(identifier, retryValueForResponse(response));
            if (!timer) {
                completion(false, errorWithCode(TLYUploadErrorNoBackoffTimer, identifier, request, handlerError));
                return;
            }
            if (timer->retryCount() > maxRetries) {
                completion(false, errorWithCode(TLYUploadErrorRetriesExhausted, identifier, request, handlerError));
                return;
            }
            timer->executeBlockAfterNextInterval([completion, handlerError] { completion(true, handlerError); });
        });
}

std::shared_ptr<TLYBackoffTimer> TLYNetworkRetryHandler::timerForIdentifier(const std::string& identifier,
                                                                            double initialRetryValue)
{
    if (identifier.empty())
        return nullptr;
    std::lock_guard lock(mutex_);
    auto& timer = retryTimerMap_[identifier];
    if (!timer)
        timer = std::make_shared<TLYBackoffTimer>(initialRetryValue);
    return timer;
}

double TLYNetworkRetryHandler::retryValueForResponse(const net::HTTPURLResponse* response)
{
    return KSTNetworkResponseHandler::retryValueForResponse(response);
}

foundation::Error TLYNetworkRetryHandler::errorWithCode(std::int64_t code, const std::string& identifier,
                                                        const net::URLRequest& request,
                                                        const std::optional<foundation::Error>& handlerError)
{
    foundation::PropertyListDictionary userInfo;
    userInfo.set(std::string(TLYNetworkRetryHandlerIdentifierKey),
                 foundation::PropertyListValue(identifier.empty() ? std::string("(null)") : identifier));
    if (!request.url.empty())
        userInfo.set(std::string(TLYErrorFailingURLKey), foundation::PropertyListValue(request.url));
    auto error = KSTNetworkResponseHandler::errorForCode(code, std::move(userInfo));
    if (handlerError) {
        error.underlyingErrorsKey = std::string(TLYErrorUnderlyingErrorKey);
        error.underlyingErrors.push_back(*handlerError);
    }
    return error;
}

} // namespace kits
