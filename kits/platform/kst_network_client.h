// Sends the kit platform's requests through a URL session, answers server-trust challenges with the
// pinned roots (debug mode included), and repeats a request that failed in a retryable way after a
// growing delay on the kits' scheduler.
#pragma once

#include "foundation/error.h"
#include "kits/platform/kst_certificate_pinner.h"
#include "net/url_session.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace foundation {
class OperationQueue;
}

namespace kits {

class KSTNetworkClient : public std::enable_shared_from_this<KSTNetworkClient> {
public:
    using DataCompletion =
        std::function<void(std::optional<std::string> data, std::optional<net::HTTPURLResponse> response,
                           std::optional<foundation::Error> error)>;
    // The file exists only during the call.
    using DownloadCompletion =
        std::function<void(std::optional<std::filesystem::path> location, std::optional<net::HTTPURLResponse> response,
                           std::optional<foundation::Error> error)>;
    static constexpr std::uint64_t defaultRetryLimit = 10;

    // Pins the given certificates, else the kits' pinned roots (KSTPinnedCertificates); completions run
    // on `queue` (a new one-at-a-time queue when none is given). Nothing when no session could be made.
    static std::shared_ptr<KSTNetworkClient>
    create(net::URLSessionConfiguration configuration = {}, std::shared_ptr<foundation::OperationQueue> queue = nullptr,
           std::optional<KSTCertificateArray> pinnedCertificates = std::nullopt);
    // Ends the session once its tasks have finished.
    ~KSTNetworkClient();
    KSTNetworkClient(const KSTNetworkClient&) = delete;
    KSTNetworkClient& operator=(const KSTNetworkClient&) = delete;

    const KSTCertificatePinner* certPinner() const;
    const std::shared_ptr<net::URLSession>& session() const { return session_; }

    // The retry limit counts repetitions: limit 1 allows two attempts. `tries` is the count so far.
    void startDataTaskWithRequest(const net::URLRequest& request, DataCompletion completion,
                                  std::uint64_t retryLimit = defaultRetryLimit, std::uint64_t tries = 0);
    void startDownloadTaskWithRequest(const net::URLRequest& request, DownloadCompletion completion,
                                      std::uint64_t retryLimit = defaultRetryLimit, std::uint64_t tries = 0);
    // Ends the session at once: running tasks are cancelled, later requests get error -3.
    void invalidateAndCancel();

    static double computeDelayForResponse(const net::HTTPURLResponse* response, std::uint64_t retryCount);
    static double generateRandomJitter();
    static double randomDoubleWithMinMax(double min, double max);

private:
    KSTNetworkClient() = default;
    // For an answer that wants a retry: at the retry limit `fail` gets -6; otherwise `start` runs on the
    // client after the delay for the response, on the kits' scheduler. A client gone by then gives -3.
    static void retryOrFail(const std::weak_ptr<KSTNetworkClient>& client,
                            const std::optional<net::HTTPURLResponse>& response, std::uint64_t retryLimit,
                            std::uint64_t tries, std::function<void(KSTNetworkClient&)> start,
                            std::function<void(std::int64_t code)> fail);

    std::shared_ptr<net::URLSession> session_;
    std::shared_ptr<net::URLSessionDelegate> trust_;
};

} // namespace kits
