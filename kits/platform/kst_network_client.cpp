// The kit network client: one session, pinned trust, classification and retries with back-off.
#include "kits/platform/kst_network_client.h"

#include "foundation/scheduler.h"
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/kst_network_response_handler.h"
#include "kits/platform/kst_network_retry_delay.h"

namespace kits {

namespace {

// The session's delegate: answers trust challenges only (every task has a completion block).
class TrustDelegate final : public net::URLSessionDelegate {
public:
    explicit TrustDelegate(KSTCertificatePinner pins) : pinner(std::move(pins)) {}

    net::ChallengeDisposition didReceiveServerTrustChallenge(net::URLSession&, const net::ServerTrust& trust) override
    {
        return pinner.dispositionForServerTrust(trust);
    }

    const KSTCertificatePinner pinner;
};

foundation::Error networkError(std::int64_t code)
{
    return KSTNetworkResponseHandler::errorForCode(code, {});
}

// Ends a request with a network error and neither data nor response.
template <typename Completion>
std::function<void(std::int64_t code)> failureOf(const Completion& completion)
{
    return [completion](std::int64_t code) {
        if (completion)
            completion(std::nullopt, std::nullopt, networkError(code));
    };
}

} // namespace

std::shared_ptr<KSTNetworkClient> KSTNetworkClient::create(net::URLSessionConfiguration configuration,
                                                           std::shared_ptr<foundation::OperationQueue> queue,
                                                           std::optional<KSTCertificateArray> pinnedCertificates)
{
    std::shared_ptr<KSTNetworkClient> client(new KSTNetworkClient());
    // One trust rule for every kit request: the pinned roots, never the system's.
    client->trust_ = std::make_shared<TrustDelegate>(
        KSTCertificatePinner(pinnedCertificates ? std::move(*pinnedCertificates) : KSTPinnedCertificates()));
    client->session_ =
        BBXURLSession::sessionWithConfiguration(std::move(configuration), client->trust_, std::move(queue));
    if (!client->session_)
        return nullptr;
    return client;
}

KSTNetworkClient::~KSTNetworkClient()
{
    if (session_)
        session_->finishTasksAndInvalidate();
}

const KSTCertificatePinner* KSTNetworkClient::certPinner() const
{
    return &static_cast<const TrustDelegate&>(*trust_).pinner;
}

void KSTNetworkClient::startDataTaskWithRequest(const net::URLRequest& request, DataCompletion completion,
                                                std::uint64_t retryLimit, std::uint64_t tries)
{
    const auto fail = failureOf(completion);
    if (session_->isInvalidated()) {
        fail(KSTNetworkErrorNoTask);
        return;
    }
    auto task =
        session_->dataTaskWithRequest(request, [weak = weak_from_this(), request, completion, fail, retryLimit,
                                                tries](std::string data, std::optional<net::HTTPURLResponse> response,
                                                       std::optional<foundation::Error> error) {
            KSTNetworkResponseHandler::handleCompletedResponse(
                response ? &*response : nullptr, request, error,
                [&](bool retry, std::optional<foundation::Error> classified) {
                    if (!retry) {
                        if (completion)
                            completion(std::move(data), response, std::move(classified));
                        return;
                    }
                    retryOrFail(
                        weak, response, retryLimit, tries,
                        [request, completion, retryLimit, tries](KSTNetworkClient& again) {
                            again.startDataTaskWithRequest(request, completion, retryLimit, tries + 1);
                        },
                        fail);
                });
        });
    task->resume();
}

void KSTNetworkClient::startDownloadTaskWithRequest(const net::URLRequest& request, DownloadCompletion completion,
                                                    std::uint64_t retryLimit, std::uint64_t tries)
{
    const auto fail = failureOf(completion);
    if (session_->isInvalidated()) {
        fail(KSTNetworkErrorNoTask);
        return;
    }
    auto task = session_->downloadTaskWithRequest(
        request, [weak = weak_from_this(), request, completion, fail, retryLimit,
                  tries](std::optional<std::filesystem::path> location, std::optional<net::HTTPURLResponse> response,
                         std::optional<foundation::Error> error) {
            KSTNetworkResponseHandler::handleCompletedResponse(
                response ? &*response : nullptr, request, error,
                [&](bool retry, std::optional<foundation::Error> classified) {
                    if (!retry) {
                        if (completion)
                            completion(location, response, BBXURLSession::downloadTaskError(classified));
                        return;
                    }
                    retryOrFail(
                        weak, response, retryLimit, tries,
                        [request, completion, retryLimit, tries](KSTNetworkClient& again) {
                            again.startDownloadTaskWithRequest(request, completion, retryLimit, tries + 1);
                        },
                        fail);
                });
        });
    task->resume();
}

void KSTNetworkClient::retryOrFail(const std::weak_ptr<KSTNetworkClient>& weak,
                                   const std::optional<net::HTTPURLResponse>& response, std::uint64_t retryLimit,
                                   std::uint64_t tries, std::function<void(KSTNetworkClient&)> start,
                                   std::function<void(std::int64_t code)> fail)
{
    if (tries >= retryLimit) {
        fail(KSTNetworkErrorRetryLimit);
        return;
    }
    if (weak.expired()) {
        fail(KSTNetworkErrorNoTask);
        return;
    }
    const double delay = computeDelayForResponse(response ? &*response : nullptr, tries);
    foundation::scheduler()->after(foundation::SchedulerDuration(delay),
                                   [weak, start = std::move(start), fail = std::move(fail)] {
                                       if (const auto client = weak.lock())
                                           start(*client);
                                       else
                                           fail(KSTNetworkErrorNoTask);
                                   });
}

void KSTNetworkClient::invalidateAndCancel()
{
    session_->invalidateAndCancel();
}

double KSTNetworkClient::computeDelayForResponse(const net::HTTPURLResponse* response, std::uint64_t retryCount)
{
    return KSTComputeRetryDelay(response, retryCount);
}

double KSTNetworkClient::generateRandomJitter()
{
    return KSTGenerateRandomJitter();
}

double KSTNetworkClient::randomDoubleWithMinMax(double min, double max)
{
    return KSTRandomDoubleWithMinMax(min, max);
}

} // namespace kits
