// Runs each packaged event file as one upload task on a URL session of its own, at most one upload
// per unique name (the file's boundary) under way from its task's start to its final result, retries
// included, and tells its delegate how each task ended; a task the delegate wants retried is started
// again under the same name. All of its state lives on the
// operation queue it is given, which also receives the session's callbacks.
#pragma once

#include "foundation/error.h"
#include "net/url_request.h"
#include "net/url_response.h"
#include "net/url_session.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace foundation {
class OperationQueue;
}

namespace kits {

class TLYUploader;

class TLYUploaderDelegate {
public:
    using CompletionHandler = std::function<void(bool retry, std::optional<foundation::Error> error)>;
    virtual ~TLYUploaderDelegate() = default;
    // The packaged file of a unique name.
    virtual std::string uploaderFilePathForUniqueName(TLYUploader& uploader, const std::string& uniqueName) = 0;
    // The upload of that name is over for good, with or without an error.
    virtual void uploaderDidFinishUploadWithUniqueName(TLYUploader& uploader, const std::string& uniqueName,
                                                       const std::optional<foundation::Error>& error) = 0;
    // A task ended; the handler decides whether it runs again.
    virtual void uploaderCompletedRequest(TLYUploader& uploader, const net::URLRequest& request,
                                          const std::optional<net::HTTPURLResponse>& response,
                                          const std::string& uniqueName, const std::optional<foundation::Error>& error,
                                          CompletionHandler completionHandler) = 0;
    // A server-trust challenge, on the session's transfer thread; the kits' pinned roots decide unless
    // overridden.
    virtual net::ChallengeDisposition
    uploaderSessionDidReceiveChallenge(TLYUploader& uploader, net::URLSession& session, const net::ServerTrust& trust);
};

class TLYUploader : public std::enable_shared_from_this<TLYUploader> {
public:
    // Named after the upload class's own session of old; never used on Linux.
    static constexpr const char* backgroundSessionIdentifier = "io.quenrow.background-session";

    static std::shared_ptr<TLYUploader> initWithQueue(std::shared_ptr<foundation::OperationQueue> queue,
                                                      std::weak_ptr<TLYUploaderDelegate> delegate);
    ~TLYUploader();
    TLYUploader(const TLYUploader&) = delete;
    TLYUploader& operator=(const TLYUploader&) = delete;

    // Skips the upload when an upload of that name is under way; otherwise starts it, or finishes it at once with
    // -2 (no request, empty path or name) or -8 (unreadable file). Any thread: the work runs on the queue.
    void startUploadRequest(std::optional<net::URLRequest> request, std::string filePath, std::string uniqueName);
    // Runs the block on the queue (there is no background session to reconnect on Linux).
    void attemptToReconnectBackgroundSessionWithCompletionBlock(std::function<void()> block);
    // Answers on the queue whether an upload of that name is under way: its task is live, or ended
    // with its result not yet delivered, or it waits for a retry. A second upload of the file then
    // would send it twice.
    void checkForExistingTaskMatchingDescription(std::string description, std::function<void(bool)> completionBlock);
    // Starts the name's upload again with its original request (the existing-task check applies again).
    void restartTask(net::URLRequest request, std::string uniqueName);

    // Store the value and drop the session, on the queue; the next upload makes a new one.
    void setDefaultUploadTimeout(double seconds);
    void setLowPowerUploadTimeout(double seconds);
    // Read on the queue (or once the queue is idle).
    double defaultUploadTimeout() const { return defaultUploadTimeout_; }
    double lowPowerUploadTimeout() const { return lowPowerUploadTimeout_; }

    // Linux has no thermal state, background sessions or thermal notifications.
    bool lowPowerMode() const { return false; }
    bool supportsBackgroundRequests() const { return false; }
    bool supportsThermalNotifications() const { return false; }

    const std::shared_ptr<foundation::OperationQueue>& operationQueue() const { return operationQueue_; }
    // On the queue: the session, made on first use (default configuration, the resource time-out from
    // the settings); nullptr when none could be made.
    std::shared_ptr<net::URLSession> session();

    // The session's callbacks (on the queue, the challenge on the transfer thread).
    void URLSessionTaskDidCompleteWithError(net::URLSession& session, net::URLSessionTask& task,
                                            const std::optional<foundation::Error>& error);
    net::ChallengeDisposition URLSessionDidReceiveChallenge(net::URLSession& session, const net::ServerTrust& trust);

private:
    TLYUploader(std::shared_ptr<foundation::OperationQueue> queue, std::weak_ptr<TLYUploaderDelegate> delegate);
    void startNewUploadRequest(const std::optional<net::URLRequest>& request, const std::string& filePath,
                               const std::string& uniqueName);
    void handleTaskDescriptionCompletedWithError(const std::string& uniqueName,
                                                 const std::optional<foundation::Error>& error);
    // Lets the session's running tasks finish; it is kept until the last one ended.
    void dropSession();
    void taskEnded(net::URLSession& session);

    const std::shared_ptr<foundation::OperationQueue> operationQueue_;
    const std::weak_ptr<TLYUploaderDelegate> delegate_;
    std::shared_ptr<net::URLSessionDelegate> sessionDelegate_;
    std::shared_ptr<net::URLSession> session_;
    // Live tasks per session; a dropped session stays here until its tasks ended.
    std::map<net::URLSession*, std::pair<std::shared_ptr<net::URLSession>, std::uint64_t>> liveTasks_;
    // Names from the start of their task until their final result, on the queue.
    std::set<std::string> uploadsUnderWay_;
    double defaultUploadTimeout_ = 3600.0;
    double lowPowerUploadTimeout_ = 21600.0;
};

} // namespace kits
