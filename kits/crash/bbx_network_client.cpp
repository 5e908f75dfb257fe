// The crash kit's upload client on the kits' URL session.

#include "kits/crash/bbx_network_client.h"

#include "foundation/operation_queue.h"
#include "foundation/scheduler.h"
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_certificate.h"
#include "kits/platform/kst_network_response_handler.h"
#include "kits/platform/kst_network_retry_delay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

namespace kits {

namespace {

// The session's delegate: hands everything to the client while it lives.
class SessionDelegate final : public net::URLSessionDelegate {
public:
    explicit SessionDelegate(std::weak_ptr<BBXNetworkClient> client) : client_(std::move(client)) {}

    net::ChallengeDisposition didReceiveServerTrustChallenge(net::URLSession&, const net::ServerTrust& trust) override
    {
        if (const auto client = client_.lock())
            return client->URLSessionDidReceiveChallenge(trust);
        return net::ChallengeDisposition::cancelChallenge;
    }

    void didCompleteWithError(net::URLSession&, net::URLSessionTask& task,
                              const std::optional<foundation::Error>& error) override
    {
        if (const auto client = client_.lock())
            client->URLSessionTaskDidCompleteWithError(task, error);
    }

private:
    const std::weak_ptr<BBXNetworkClient> client_;
};

// The synchronous path trusts what every kit request trusts: the pinned roots.
class PinnedTrustDelegate final : public net::URLSessionDelegate {
public:
    explicit PinnedTrustDelegate(std::shared_ptr<const KSTCertificatePinner> pinner) : pinner_(std::move(pinner)) {}

    net::ChallengeDisposition didReceiveServerTrustChallenge(net::URLSession&, const net::ServerTrust& trust) override
    {
        return pinner_->dispositionForServerTrust(trust);
    }

private:
    const std::shared_ptr<const KSTCertificatePinner> pinner_;
};

} // namespace

void BBXNetworkClientDelegate::networkClientDidFinishUploadWithPath(BBXNetworkClient&, const std::string&,
                                                                    const std::optional<foundation::Error>&)
{}

std::shared_ptr<BBXNetworkClient> BBXNetworkClient::initWithQueue(std::shared_ptr<foundation::OperationQueue> queue,
                                                                  std::shared_ptr<BBXFileManager> fileManager,
                                                                  std::weak_ptr<BBXNetworkClientDelegate> delegate)
{
    std::shared_ptr<BBXNetworkClient> client(new BBXNetworkClient(std::move(queue), std::move(fileManager), delegate));
    client->sessionDelegate_ = std::make_shared<SessionDelegate>(client);
    if (const auto heard = delegate.lock())
        client->canUseBackgroundSession_ = heard->networkClientCanUseBackgroundSessions(*client);
    if (!client->supportsBackgroundRequests())
        kitDebugLog("[Blackbox:Crash:Client] Background session uploading not supported, asynchronous uploading will "
                    "be used");
    return client;
}

BBXNetworkClient::BBXNetworkClient(std::shared_ptr<foundation::OperationQueue> queue,
                                   std::shared_ptr<BBXFileManager> fileManager,
                                   std::weak_ptr<BBXNetworkClientDelegate> delegate)
    : delegate_(std::move(delegate)), operationQueue_(std::move(queue)), certPinner_(pinner()),
      fileManager_(std::move(fileManager))
{}

BBXNetworkClient::~BBXNetworkClient()
{
    // Running uploads end on their own; nobody is told any more.
    if (session_)
        session_->finishTasksAndInvalidate();
}

std::shared_ptr<const KSTCertificatePinner> BBXNetworkClient::pinner()
{
    return std::make_shared<const KSTCertificatePinner>(KSTPinnedCertificates());
}

std::shared_ptr<net::URLSession> BBXNetworkClient::session()
{
    std::lock_guard lock(sessionMutex_);
    if (session_)
        return session_;
    session_ = BBXURLSession::sessionWithConfiguration(BBXURLSessionConfiguration::defaultSessionConfiguration(),
                                                       sessionDelegate_, operationQueue_);
    if (!session_)
        kitLog("[Blackbox:Crash:Client] Failed to initialize");
    return session_;
}

bool BBXNetworkClient::NSURLSessionAvailable()
{
    return BBXURLSession::NSURLSessionShouldBeUsed();
}

bool BBXNetworkClient::supportsBackgroundRequests() const
{
    // No background URL sessions exist here, whatever the delegate answers.
    return false;
}

void BBXNetworkClient::attemptToReconnectBackgroundSessionWithCompletionBlock(const std::function<void()>& block)
{
    if (block)
        block();
}

void BBXNetworkClient::startUploadRequest(const net::URLRequest& request, const std::string& filePath, bool immediately)
{
    if (immediately) {
        startImmediateUploadRequest(request, filePath);
        return;
    }
    const std::string description = relativeTaskPathForAbsolutePath(filePath).value_or(std::string());
    checkForExistingTaskMatchingDescription(description, [self = shared_from_this(), request, filePath](bool found) {
        if (found) {
            kitDebugLog("[Blackbox:Crash:Client] A task currently exists for this upload, skipping");
            return;
        }
        self->startNewUploadRequest(request, filePath);
    });
}

void BBXNetworkClient::startImmediateUploadRequest(const net::URLRequest& request, const std::string& filePath)
{
    if (supportsBackgroundRequests()) {
        startNewUploadRequest(request, filePath);
        return;
    }
    if (::access(filePath.c_str(), R_OK) != 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: file unreadable\n");
        return;
    }
    // Sent on this thread and awaited, bounded by the request's time-out: a session of its own, so
    // its completion never waits for the queue this thread may be running.
    auto session = BBXURLSession::sessionWithConfiguration(BBXURLSessionConfiguration::ephemeralSessionConfiguration(),
                                                           std::make_shared<PinnedTrustDelegate>(certPinner_));
    if (!session)
        return;
    struct Outcome {
        std::mutex mutex;
        std::condition_variable condition;
        bool done = false;
        std::optional<net::HTTPURLResponse> response;
    };
    auto outcome = std::make_shared<Outcome>();
    auto task = session->uploadTaskWithRequestFromFile(
        request, filePath,
        [outcome](std::string, std::optional<net::HTTPURLResponse> response, std::optional<foundation::Error>) {
            std::lock_guard lock(outcome->mutex);
            outcome->response = std::move(response);
            outcome->done = true;
            outcome->condition.notify_all();
        });
    if (!task) {
        session->invalidateAndCancel();
        return;
    }
    task->resume();
    const double seconds = std::isfinite(request.timeoutInterval) && request.timeoutInterval > 0
                               ? std::min(request.timeoutInterval, 600.0)
                               : synchronousTimeout;
    std::optional<net::HTTPURLResponse> response;
    {
        std::unique_lock lock(outcome->mutex);
        outcome->condition.wait_for(lock, std::chrono::duration<double>(seconds + 0.25), [&] { return outcome->done; });
        if (outcome->done)
            response = outcome->response;
    }
    session->invalidateAndCancel();
    bool succeeded = false;
    KSTNetworkResponseHandler::clientResponseType(
        response ? &*response : nullptr,
        [&](KSTNetworkResponseType type, long) { succeeded = type == KSTNetworkResponseType::success; });
    if (!succeeded)
        return; // the package stays in "prepared" for a later launch
    if (const auto delegate = delegate_.lock())
        delegate->networkClientDidFinishUploadWithPath(*this, filePath, std::nullopt);
}

void BBXNetworkClient::startNewUploadRequest(const net::URLRequest& request, const std::string& filePath)
{
    const std::string description = relativeTaskPathForAbsolutePath(filePath).value_or(std::string());
    std::shared_ptr<net::URLSessionTask> task;
    if (::access(filePath.c_str(), R_OK) == 0) {
        if (const auto current = session())
            task = current->uploadTaskWithRequestFromFile(request, filePath);
    }
    if (task) {
        task->setTaskDescription(description);
        task->resume();
        return;
    }
    foundation::PropertyListDictionary userInfo;
    userInfo.set("path", foundation::PropertyListValue(filePath));
    foundation::Error error{
        std::string(BBXNetworkErrorDomain), BBXNetworkErrorUnreadablePackage, {}, std::move(userInfo), {}, {}};
    operationQueue_->addOperationWithBlock([self = shared_from_this(), description, error] {
        self->handleTaskDescriptionCompletedWithError(description, error);
    });
}

void BBXNetworkClient::checkForExistingTaskMatchingDescription(const std::string& description,
                                                               std::function<void(bool found)> completionBlock)
{
    operationQueue_->addOperationWithBlock([self = shared_from_this(), description, completionBlock] {
        const auto current = self->session();
        if (!current) {
            completionBlock(false);
            return;
        }
        current->getTasksWithCompletionHandler(
            [description, completionBlock](auto dataTasks, auto uploadTasks, auto downloadTasks) {
                completionBlock(taskArrayHasTaskMatchingDescription(dataTasks, description)
                                || taskArrayHasTaskMatchingDescription(uploadTasks, description)
                                || taskArrayHasTaskMatchingDescription(downloadTasks, description));
            });
    });
}

bool BBXNetworkClient::taskArrayHasTaskMatchingDescription(
    const std::vector<std::shared_ptr<net::URLSessionTask>>& tasks, const std::string& description)
{
    return std::any_of(tasks.begin(), tasks.end(),
                       [&](const auto& task) { return task && task->taskDescription() == description; });
}

std::string BBXNetworkClient::rootPath() const
{
    return fileManager_ ? fileManager_->rootPath() : std::string();
}

std::optional<std::string> BBXNetworkClient::relativeTaskPathForAbsolutePath(const std::string& path) const
{
    const std::string prefix = rootPath() + "/";
    if (!path.starts_with(prefix)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: path '%s' is not at the root '%s'", path.c_str(),
                rootPath().c_str());
        return std::nullopt;
    }
    // Every occurrence of the prefix goes, as the description has always been made.
    std::string relative = path;
    for (auto at = relative.find(prefix); at != std::string::npos; at = relative.find(prefix, at))
        relative.erase(at, prefix.size());
    return relative;
}

std::string BBXNetworkClient::absolutePathForRelativeTaskPath(const std::string& relativePath) const
{
    return rootPath() + "/" + relativePath;
}

void BBXNetworkClient::runAfterRetryValueFromResponse(const net::HTTPURLResponse* response, std::function<void()> block)
{
    const double delay =
        std::min(KSTNetworkResponseHandler::retryValueForResponse(response), KSTNetworkMaximumRetryDelay);
    foundation::scheduler()->after(foundation::SchedulerDuration(delay), std::move(block));
}

void BBXNetworkClient::restartTask(const net::URLSessionTask& task)
{
    const auto response = task.response();
    const net::URLRequest request = task.originalRequest();
    const std::string path = absolutePathForRelativeTaskPath(task.taskDescription());
    std::weak_ptr<BBXNetworkClient> weakSelf = shared_from_this();
    auto restart = [weakSelf, request, path] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        self->operationQueue_->addOperationWithBlock(
            [self, request, path] { self->startNewUploadRequest(request, path); });
    };
    if (!task.error()) {
        runAfterRetryValueFromResponse(response ? &*response : nullptr, std::move(restart));
        return;
    }
    // Offline, the package is tried again ever less often (2, 2, 4, 8 ... s, at most a day apart)
    // rather than every 2 s for as long as the launch runs.
    const std::uint64_t failures = connectionFailures_[task.taskDescription()]++;
    foundation::scheduler()->after(foundation::SchedulerDuration(KSTComputeRetryDelay(nullptr, failures)),
                                   std::move(restart));
}

void BBXNetworkClient::handleTaskCompletedWithError(const net::URLSessionTask& task,
                                                    const std::optional<foundation::Error>& error)
{
    handleTaskDescriptionCompletedWithError(task.taskDescription(), error);
}

void BBXNetworkClient::handleTaskDescriptionCompletedWithError(const std::string& description,
                                                               const std::optional<foundation::Error>& error)
{
    connectionFailures_.erase(description);
    if (const auto delegate = delegate_.lock())
        delegate->networkClientDidFinishUploadWithPath(*this, absolutePathForRelativeTaskPath(description), error);
}

net::ChallengeDisposition BBXNetworkClient::URLSessionDidReceiveChallenge(const net::ServerTrust& trust) const
{
    return certPinner_->dispositionForServerTrust(trust);
}

void BBXNetworkClient::URLSessionTaskDidCompleteWithError(net::URLSessionTask& task,
                                                          const std::optional<foundation::Error>& error)
{
    const auto response = task.response();
    // A report the service accepted is delivered, whatever type its answer names: kept, it would be
    // posted again at every launch.
    if (!error && response
        && KSTNetworkResponseHandler::responseTypeForStatus(response->statusCode) == KSTNetworkResponseType::success) {
        if (!KSTNetworkResponseHandler::contentTypeForResponseMatchesRequest(&*response, task.originalRequest()))
            kitLog("[Blackbox:Crash:Client] The reports service accepted " + task.taskDescription() + " with status "
                   + std::to_string(*response->statusCode) + " and content type \""
                   + response->valueForHTTPHeaderField("Content-Type").value_or("") + "\"; it counts as delivered");
        handleTaskCompletedWithError(task, std::nullopt);
        return;
    }
    KSTNetworkResponseHandler::handleCompletedResponse(response ? &*response : nullptr, task.originalRequest(), error,
                                                       [&](bool retry, std::optional<foundation::Error> outcome) {
                                                           if (retry)
                                                               restartTask(task);
                                                           else
                                                               handleTaskCompletedWithError(task, outcome);
                                                       });
}

} // namespace kits
