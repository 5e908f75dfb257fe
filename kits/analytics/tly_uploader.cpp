// The uploader: one upload task per packaged file, on a session made through the kits' factory.
#include "kits/analytics/tly_uploader.h"

#include "foundation/operation_queue.h"
#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_network_retry_handler.h"
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/kst_certificate_pinner.h"
#include "kits/platform/kst_network_response_handler.h"

#include <unistd.h>

namespace kits {

namespace {

// The session's delegate: hands everything to the uploader while it lives.
class SessionDelegate final : public net::URLSessionDelegate {
public:
    explicit SessionDelegate(std::weak_ptr<TLYUploader> uploader) : uploader_(std::move(uploader)) {}

    net::ChallengeDisposition didReceiveServerTrustChallenge(net::URLSession& session,
                                                             const net::ServerTrust& trust) override
    {
        if (const auto uploader = uploader_.lock())
            return uploader->URLSessionDidReceiveChallenge(session, trust);
        return net::ChallengeDisposition::cancelChallenge;
    }

    void didCompleteWithError(net::URLSession& session, net::URLSessionTask& task,
                              const std::optional<foundation::Error>& error) override
    {
        if (const auto uploader = uploader_.lock())
            uploader->URLSessionTaskDidCompleteWithError(session, task, error);
    }

private:
    const std::weak_ptr<TLYUploader> uploader_;
};

foundation::Error uploadError(std::int64_t code, const std::string& filePath, const std::string& uniqueName)
{
    foundation::PropertyListDictionary userInfo;
    userInfo.set(std::string(TLYErrorFilePathKey),
                 foundation::PropertyListValue(filePath.empty() ? std::string("(null)") : filePath));
    userInfo.set(std::string(TLYUploaderUniqueNameKey),
                 foundation::PropertyListValue(uniqueName.empty() ? std::string("(null)") : uniqueName));
    return KSTNetworkResponseHandler::errorForCode(code, std::move(userInfo));
}

} // namespace

net::ChallengeDisposition TLYUploaderDelegate::uploaderSessionDidReceiveChallenge(TLYUploader&, net::URLSession&,
                                                                                  const net::ServerTrust& trust)
{
    return KSTCertificatePinner(KSTPinnedCertificates()).dispositionForServerTrust(trust);
}

std::shared_ptr<TLYUploader> TLYUploader::initWithQueue(std::shared_ptr<foundation::OperationQueue> queue,
                                                        std::weak_ptr<TLYUploaderDelegate> delegate)
{
    std::shared_ptr<TLYUploader> uploader(new TLYUploader(std::move(queue), std::move(delegate)));
    uploader->sessionDelegate_ = std::make_shared<SessionDelegate>(uploader);
    return uploader;
}

TLYUploader::TLYUploader(std::shared_ptr<foundation::OperationQueue> queue, std::weak_ptr<TLYUploaderDelegate> delegate)
    : operationQueue_(std::move(queue)), delegate_(std::move(delegate))
{}

TLYUploader::~TLYUploader() = default;

std::shared_ptr<net::URLSession> TLYUploader::session()
{
    if (session_)
        return session_;
    // No background configuration exists on Linux, so the default one always serves.
    auto configuration = BBXURLSessionConfiguration::defaultSessionConfiguration();
    configuration.timeoutIntervalForResource = lowPowerMode() ? lowPowerUploadTimeout_ : defaultUploadTimeout_;
    session_ = BBXURLSession::sessionWithConfiguration(configuration, sessionDelegate_, operationQueue_);
    return session_;
}

void TLYUploader::startUploadRequest(std::optional<net::URLRequest> request, std::string filePath,
                                     std::string uniqueName)
{
    auto self = shared_from_this();
    checkForExistingTaskMatchingDescription(
        uniqueName, [self, request = std::move(request), filePath = std::move(filePath), uniqueName](bool exists) {
            if (exists) {
                TLYLogger::sharedLogger().logWithLabel("TLYUploader",
                                                       "A task currently exists for '" + uniqueName + "', skipping");
                return;
            }
            self->startNewUploadRequest(request, filePath, uniqueName);
        });
}

void TLYUploader::checkForExistingTaskMatchingDescription(std::string description,
                                                          std::function<void(bool)> completionBlock)
{
    // Every task of this uploader's sessions, a dropped one's included, is under way by its name from
    // its start to its final result: the names kept on the queue answer without asking a session.
    operationQueue_->addOperationWithBlock([self = shared_from_this(), description = std::move(description),
                                            completionBlock = std::move(completionBlock)] {
        completionBlock(self->uploadsUnderWay_.contains(description));
    });
}

void TLYUploader::startNewUploadRequest(const std::optional<net::URLRequest>& request, const std::string& filePath,
                                        const std::string& uniqueName)
{
    if (!request || filePath.empty() || uniqueName.empty()) {
        handleTaskDescriptionCompletedWithError(uniqueName, uploadError(TLYUploadErrorNoRequest, filePath, uniqueName));
        return;
    }
    if (::access(filePath.c_str(), R_OK) != 0) {
        handleTaskDescriptionCompletedWithError(uniqueName,
                                                uploadError(TLYUploadErrorUnreadableFile, filePath, uniqueName));
        return;
    }
    const auto current = session();
    if (!current) {
        handleTaskDescriptionCompletedWithError(uniqueName, uploadError(TLYUploadErrorNoRequest, filePath, uniqueName));
        return;
    }
    auto task = current->uploadTaskWithRequestFromFile(*request, filePath);
    task->setTaskDescription(uniqueName);
    uploadsUnderWay_.insert(uniqueName);
    auto& entry = liveTasks_[current.get()];
    entry.first = current;
    ++entry.second;
    task->resume();
}

void TLYUploader::URLSessionTaskDidCompleteWithError(net::URLSession& session, net::URLSessionTask& task,
                                                     const std::optional<foundation::Error>& error)
{
    taskEnded(session);
    const auto delegate = delegate_.lock();
    if (!delegate)
        return;
    const std::string uniqueName = task.taskDescription();
    const net::URLRequest request = task.originalRequest();
    delegate->uploaderCompletedRequest(
        *this, request, task.response(), uniqueName, error,
        [weak = weak_from_this(), request, uniqueName](bool retry, std::optional<foundation::Error> handlerError) {
            const auto self = weak.lock();
            if (!self)
                return;
            if (retry) {
                TLYLogger::sharedLogger().log("Retrying task with name " + uniqueName);
                self->restartTask(request, uniqueName);
                return;
            }
            self->handleTaskDescriptionCompletedWithError(uniqueName, handlerError);
        });
}

net::ChallengeDisposition TLYUploader::URLSessionDidReceiveChallenge(net::URLSession& session,
                                                                     const net::ServerTrust& trust)
{
    if (const auto delegate = delegate_.lock())
        return delegate->uploaderSessionDidReceiveChallenge(*this, session, trust);
    return net::ChallengeDisposition::cancelChallenge; // nobody is left to hear of the upload
}

void TLYUploader::restartTask(net::URLRequest request, std::string uniqueName)
{
    operationQueue_->addOperationWithBlock(
        [self = shared_from_this(), request = std::move(request), uniqueName = std::move(uniqueName)] {
            // The retry is this name's upload going on, not a second one. Should another upload of the
            // name pass its check first, the retry is skipped and that upload's result stands.
            self->uploadsUnderWay_.erase(uniqueName);
            const auto delegate = self->delegate_.lock();
            if (!delegate)
                return;
            self->startUploadRequest(request, delegate->uploaderFilePathForUniqueName(*self, uniqueName), uniqueName);
        });
}

void TLYUploader::handleTaskDescriptionCompletedWithError(const std::string& uniqueName,
                                                          const std::optional<foundation::Error>& error)
{
    uploadsUnderWay_.erase(uniqueName);
    if (const auto delegate = delegate_.lock())
        delegate->uploaderDidFinishUploadWithUniqueName(*this, uniqueName, error);
}

void TLYUploader::attemptToReconnectBackgroundSessionWithCompletionBlock(std::function<void()> block)
{
    if (block)
        operationQueue_->addOperationWithBlock(std::move(block));
}

void TLYUploader::setDefaultUploadTimeout(double seconds)
{
    operationQueue_->addOperationWithBlock([self = shared_from_this(), seconds] {
        self->defaultUploadTimeout_ = seconds;
        self->dropSession();
    });
}

void TLYUploader::setLowPowerUploadTimeout(double seconds)
{
    operationQueue_->addOperationWithBlock([self = shared_from_this(), seconds] {
        self->lowPowerUploadTimeout_ = seconds;
        self->dropSession();
    });
}

void TLYUploader::dropSession()
{
    if (!session_)
        return;
    // Destroying a session would cancel its tasks: it finishes them and stays in liveTasks_ meanwhile.
    session_->finishTasksAndInvalidate();
    session_.reset();
}

void TLYUploader::taskEnded(net::URLSession& session)
{
    const auto found = liveTasks_.find(&session);
    if (found == liveTasks_.end() || --found->second.second > 0)
        return;
    // Released in an operation of its own: the session must outlive the callback that reports its last task.
    operationQueue_->addOperationWithBlock([kept = std::move(found->second.first)] {});
    liveTasks_.erase(found);
}

} // namespace kits
