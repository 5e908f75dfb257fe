// Uploads a crash report package to the reports service as an upload task from the package file,
// each task described by the package's path under the kit's root (so a running upload of a package is
// never started twice), or, when urgent, as a request sent and awaited on the calling thread; both
// pinned to the kits' roots. A 429 or server error restarts the task after the server's delay, a
// connection that failed after a back-off growing from 2 s; a success status delivers the report
// whatever content type it names; every other ending goes to the delegate. Linux has no background
// sessions: a package not sent stays in "prepared".
#pragma once

#include "foundation/error.h"
#include "kits/platform/kst_certificate_pinner.h"
#include "net/url_request.h"
#include "net/url_response.h"
#include "net/url_session.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {
class OperationQueue;
}

namespace kits {

class BBXFileManager;
class BBXNetworkClient;

inline constexpr std::string_view BBXNetworkErrorDomain = "BBXNetworkError";
// A package that is missing or unreadable when its upload starts; user info "path".
inline constexpr std::int64_t BBXNetworkErrorUnreadablePackage = -2;

class BBXNetworkClientDelegate {
public:
    virtual ~BBXNetworkClientDelegate() = default;
    virtual bool networkClientCanUseBackgroundSessions(BBXNetworkClient& client) = 0;
    // The upload of the package at `path` ended: sent (no error) or failed for good.
    virtual void networkClientDidFinishUploadWithPath(BBXNetworkClient& client, const std::string& path,
                                                      const std::optional<foundation::Error>& error);
};

class BBXNetworkClient : public std::enable_shared_from_this<BBXNetworkClient> {
public:
    // The time a synchronous upload may take before it is given up.
    static constexpr double synchronousTimeout = 2.0;

    static std::shared_ptr<BBXNetworkClient> initWithQueue(std::shared_ptr<foundation::OperationQueue> queue,
                                                           std::shared_ptr<BBXFileManager> fileManager,
                                                           std::weak_ptr<BBXNetworkClientDelegate> delegate);
    ~BBXNetworkClient();
    BBXNetworkClient(const BBXNetworkClient&) = delete;
    BBXNetworkClient& operator=(const BBXNetworkClient&) = delete;

    // A pinner of the kits' pinned roots.
    static std::shared_ptr<const KSTCertificatePinner> pinner();

    // Made on first use, with this client's queue as its delegate queue.
    std::shared_ptr<net::URLSession> session();
    static bool NSURLSessionAvailable();
    // Never on Linux.
    bool supportsBackgroundRequests() const;
    bool canUseBackgroundSession() const { return canUseBackgroundSession_; }
    const std::shared_ptr<foundation::OperationQueue>& operationQueue() const { return operationQueue_; }
    // There is no background session to reconnect: the block runs at once.
    void attemptToReconnectBackgroundSessionWithCompletionBlock(const std::function<void()>& block);

    // Immediately: sent and awaited on this thread; else an upload task on the queue, unless a live
    // task already carries this package's description.
    void startUploadRequest(const net::URLRequest& request, const std::string& filePath, bool immediately);
    void startImmediateUploadRequest(const net::URLRequest& request, const std::string& filePath);
    void startNewUploadRequest(const net::URLRequest& request, const std::string& filePath);

    // On the queue: whether a live task of the session carries the description.
    void checkForExistingTaskMatchingDescription(const std::string& description,
                                                 std::function<void(bool found)> completionBlock);
    static bool taskArrayHasTaskMatchingDescription(const std::vector<std::shared_ptr<net::URLSessionTask>>& tasks,
                                                    const std::string& description);

    std::string rootPath() const;
    // The path without root + "/"; none (logged) for a path outside the root.
    std::optional<std::string> relativeTaskPathForAbsolutePath(const std::string& path) const;
    std::string absolutePathForRelativeTaskPath(const std::string& relativePath) const;

    // Runs `block` after the response's "Retry-After" seconds (at most a day), from the scheduler.
    void runAfterRetryValueFromResponse(const net::HTTPURLResponse* response, std::function<void()> block);
    // On the queue: after the server's "Retry-After" for an answer, after the package's next back-off
    // interval for a connection that failed.
    void restartTask(const net::URLSessionTask& task);
    void handleTaskCompletedWithError(const net::URLSessionTask& task, const std::optional<foundation::Error>& error);
    void handleTaskDescriptionCompletedWithError(const std::string& description,
                                                 const std::optional<foundation::Error>& error);

    // The session's delegate calls.
    net::ChallengeDisposition URLSessionDidReceiveChallenge(const net::ServerTrust& trust) const;
    void URLSessionTaskDidCompleteWithError(net::URLSessionTask& task, const std::optional<foundation::Error>& error);

private:
    BBXNetworkClient(std::shared_ptr<foundation::OperationQueue> queue, std::shared_ptr<BBXFileManager> fileManager,
                     std::weak_ptr<BBXNetworkClientDelegate> delegate);

    std::mutex sessionMutex_; // the session is made once, from whichever thread asks first
    std::shared_ptr<net::URLSession> session_;
    bool canUseBackgroundSession_ = false;
    std::weak_ptr<BBXNetworkClientDelegate> delegate_;
    std::shared_ptr<foundation::OperationQueue> operationQueue_;
    std::shared_ptr<const KSTCertificatePinner> certPinner_;
    std::shared_ptr<BBXFileManager> fileManager_;
    std::shared_ptr<net::URLSessionDelegate> sessionDelegate_;
    // Per task description, the connection failures in a row of the upload under way (on the queue).
    std::map<std::string, std::uint64_t> connectionFailures_;
};

} // namespace kits
