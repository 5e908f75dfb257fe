// The analytics kit's engine: one serial event queue on which every event is gated by the settings,
// sampled, written to the current log and, when the log grows too large, a flush is asked for or the
// flush timer finds it too large, rotated through compression, packaging and upload. Nothing is
// uploaded until valid settings with an https events endpoint arrived; packages wait on disk until
// then, and stay there until the service accepted them or answered them for good.
#pragma once

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tly_event_filter.h"
#include "kits/analytics/tly_settings.h"
#include "kits/analytics/tly_uploader.h"

#include "foundation/notification_center.h"
#include "foundation/operation_queue.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class TLYCrashMetadata;
class TLYMetadata;
class TLYNetworkRetryHandler;
class TLYTimer;

class TLYTallyController final : public TLYEventController,
                                 public TLYUploaderDelegate,
                                 public std::enable_shared_from_this<TLYTallyController> {
public:
    // What the controller takes from the kit platform (tests give their own).
    struct Environment {
        std::function<std::shared_ptr<const foundation::PropertyListDictionary>()> settings;
        bool isFirstInstall = false;
        std::function<std::shared_ptr<const TLYMetadata>(const std::optional<std::string>& betaToken)> metadata;
        std::function<void(std::optional<std::string>)> setAdvertisingToken;
    };
    // The shared Keystone's.
    static Environment keystoneEnvironment();

    // Caches / "com.faultmere.data" / escaped bundle identifier / "analytics" / "v2".
    static std::filesystem::path rootDirectory();
    static std::filesystem::path eventDirectoryForRootDirectory(const std::filesystem::path& root);
    static std::filesystem::path crashMetadataPathForRootDirectory(const std::filesystem::path& root);

    static std::shared_ptr<TLYTallyController> initWithBetaToken(const std::optional<std::string>& betaToken);
    static std::shared_ptr<TLYTallyController> initWithBetaToken(const std::optional<std::string>& betaToken,
                                                                 std::filesystem::path rootDirectory,
                                                                 Environment environment);
    ~TLYTallyController() override;

    // Any thread; return at once.
    void logEvent(std::shared_ptr<const TLYEvent> event) override;
    void logCrashEvent(std::shared_ptr<const TLYCrashEvent> event) override;
    void enqueueEvent(std::shared_ptr<const TLYEvent> event);
    // Applies the first valid settings (on the queue); later ones change nothing.
    void
    initializeSettingsIfNeededWithKeystoneSettings(std::shared_ptr<const foundation::PropertyListDictionary> settings);

    const std::shared_ptr<foundation::OperationQueue>& eventQueue() const { return eventQueue_; }
    const std::filesystem::path& rootEventDirectory() const { return rootEventDirectory_; }
    // On the queue (or once it is idle).
    std::filesystem::path currentLogURL() const { return currentLogURL_; }
    const std::optional<TLYSettings>& settings() const { return settings_; }
    const std::shared_ptr<TLYTimer>& flushTimer() const { return flushTimer_; }
    const std::shared_ptr<TLYUploader>& uploader() const { return uploader_; }

    // On the queue.
    void rotateAndSubmitCurrentLog();
    void flushTimerFired();
    bool shouldSubmitLogAtURL(const std::filesystem::path& log) const;
    void removeAllLogs();
    void cleanupAndProcessExistingFiles();
    void uploadAllMultipartFiles();
    void uploadMultipartFiles(const std::vector<std::filesystem::path>& files);
    std::vector<std::shared_ptr<foundation::Operation>> operationsForUncompressedLog(const std::filesystem::path& log);
    std::vector<std::shared_ptr<foundation::Operation>> operationsForCompressedLog(const std::filesystem::path& gz);
    std::shared_ptr<foundation::Operation> uploadOperationForFileAtURL(const std::filesystem::path& file,
                                                                       const std::string& boundary);
    static std::optional<std::string> boundaryFromURL(const std::filesystem::path& file);
    std::filesystem::path multipartMimeURLWithBoundary(const std::string& boundary) const;
    std::filesystem::path generateNewLogPath() const;
    // The settings' events URL when it may be used (https); on the queue.
    std::optional<std::string> eventsURL() const;
    // Whether an upload that ended with `error` is over for its package: the service accepted it, or
    // answered it for good (a client error, an unexpected answer, the retries of its own answers used
    // up). A connection that failed or was refused, a cancel or an unreadable file keep the package.
    static bool uploadEndsItsPackage(const std::optional<foundation::Error>& error);

    // TLYUploaderDelegate.
    std::string uploaderFilePathForUniqueName(TLYUploader& uploader, const std::string& uniqueName) override;
    void uploaderDidFinishUploadWithUniqueName(TLYUploader& uploader, const std::string& uniqueName,
                                               const std::optional<foundation::Error>& error) override;
    void uploaderCompletedRequest(TLYUploader& uploader, const net::URLRequest& request,
                                  const std::optional<net::HTTPURLResponse>& response, const std::string& uniqueName,
                                  const std::optional<foundation::Error>& error,
                                  CompletionHandler completionHandler) override;
    net::ChallengeDisposition uploaderSessionDidReceiveChallenge(TLYUploader& uploader, net::URLSession& session,
                                                                 const net::ServerTrust& trust) override;

private:
    TLYTallyController(std::optional<std::string> betaToken, std::filesystem::path rootDirectory,
                       Environment environment);
    void start();
    void startBlock();
    void registerForApplicationLifecycleEvents();
    bool shouldLogEvent() const;
    bool discards(const TLYEvent& event) const;
    void setupFlushTimer();
    void addWriteOperation(std::shared_ptr<const TLYEvent> event, bool previousExecution,
                           const std::weak_ptr<foundation::Operation>& activity);

    const std::optional<std::string> betaToken_;
    const std::filesystem::path rootDirectory_;
    const Environment environment_;
    const std::shared_ptr<foundation::OperationQueue> eventQueue_;
    std::vector<foundation::ObserverToken> observers_;

    // Set by the start block and used on the queue only.
    std::filesystem::path rootEventDirectory_;
    std::shared_ptr<const TLYMetadata> metadata_;
    std::shared_ptr<const TLYCrashMetadata> previousExecutionMetadata_;
    std::shared_ptr<TLYUploader> uploader_;
    std::shared_ptr<TLYNetworkRetryHandler> networkRetryHandler_;
    std::filesystem::path currentLogURL_;
    TLYEventFilter eventFilter_;
    std::optional<TLYSettings> settings_;
    std::shared_ptr<TLYTimer> flushTimer_;
};

} // namespace kits
