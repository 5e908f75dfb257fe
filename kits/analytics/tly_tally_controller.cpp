// The analytics controller: start-up, the settings gate, sampling, writing, rotation, leftovers,
// uploads and the flush timer, all on one serial event queue.
#include "kits/analytics/tly_tally_controller.h"

#include "foundation/application_notifications.h"
#include "foundation/main_bundle.h"
#include "kits/analytics/tly_activity.h"
#include "kits/analytics/tly_cleanup_files_operation.h"
#include "kits/analytics/tly_compress_log_operation.h"
#include "kits/analytics/tly_event.h"
#include "kits/analytics/tly_file_utils.h"
#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_metadata.h"
#include "kits/analytics/tly_network_retry_handler.h"
#include "kits/analytics/tly_package_log_operation.h"
#include "kits/analytics/tly_rotate_crash_metadata_operation.h"
#include "kits/analytics/tly_timer.h"
#include "kits/analytics/tly_upload_operation.h"
#include "kits/analytics/tly_write_event_operation.h"
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"
#include "kits/platform/kst_network_response_handler.h"
#include "kits/platform/kst_settings_onboarding_manager.h"
#include "kits/platform/kst_value_description.h"

#include <system_error>
#include <unistd.h>

namespace kits {

namespace {

constexpr std::uint64_t recordEventActivityOptions = 0xC000;
constexpr std::uint64_t rotateActivityOptions = 0xC0FF;

void removeQuietly(const std::filesystem::path& file)
{
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

bool fileExists(const std::filesystem::path& file)
{
    std::error_code ignored;
    return std::filesystem::exists(file, ignored);
}

std::string describe(const foundation::PropertyListDictionary& dictionary)
{
    return KSTValueDescription(foundation::PropertyListValue(dictionary));
}

std::string describe(const foundation::Error& error)
{
    return error.domain + " " + std::to_string(error.code);
}

void log(const std::string& text)
{
    TLYLogger::sharedLogger().log(text);
}

} // namespace

TLYTallyController::Environment TLYTallyController::keystoneEnvironment()
{
    Environment environment;
    environment.settings = [] { return Keystone::sharedSDK().settings(); };
    environment.isFirstInstall = Keystone::sharedSDK().isFirstInstall();
    environment.metadata = [](const std::optional<std::string>& betaToken) {
        // A host without a valid "Keystone" entry is refused by the kit platform's start; started
        // without it, the kit writes its events without the platform's facts rather than end the process.
        try {
            return std::make_shared<const TLYMetadata>(TLYMetadata::initWithKeystone(Keystone::sharedSDK(), betaToken));
        } catch (const KSTException& misuse) {
            kitLog(std::string("[Tally] ") + misuse.what());
            return std::make_shared<const TLYMetadata>(TLYMetadata::Fields{});
        }
    };
    environment.setAdvertisingToken = [](std::optional<std::string> token) {
        Keystone::sharedSDK().setAdvertisingToken(std::move(token));
    };
    return environment;
}

std::filesystem::path TLYTallyController::rootDirectory()
{
    auto root = foundation::MainBundle::cachesDirectory() / "com.faultmere.data";
    if (const auto identifier = KSTEscapedBundleIdentifier(); identifier && !identifier->empty())
        root /= *identifier;
    return root / "analytics" / "v2";
}

std::filesystem::path TLYTallyController::eventDirectoryForRootDirectory(const std::filesystem::path& root)
{
    return root / "events";
}

std::filesystem::path TLYTallyController::crashMetadataPathForRootDirectory(const std::filesystem::path& root)
{
    return root / "crash_metadata";
}

std::shared_ptr<TLYTallyController> TLYTallyController::initWithBetaToken(const std::optional<std::string>& betaToken)
{
    return initWithBetaToken(betaToken, rootDirectory(), keystoneEnvironment());
}

std::shared_ptr<TLYTallyController> TLYTallyController::initWithBetaToken(const std::optional<std::string>& betaToken,
                                                                          std::filesystem::path rootDirectory,
                                                                          Environment environment)
{
    std::shared_ptr<TLYTallyController> controller(
        new TLYTallyController(betaToken, std::move(rootDirectory), std::move(environment)));
    controller->start();
    return controller;
}

TLYTallyController::TLYTallyController(std::optional<std::string> betaToken, std::filesystem::path rootDirectory,
                                       Environment environment)
    : betaToken_(std::move(betaToken)), rootDirectory_(std::move(rootDirectory)), environment_(std::move(environment)),
      eventQueue_(std::make_shared<foundation::OperationQueue>(1))
{}

TLYTallyController::~TLYTallyController()
{
    observers_.clear();
}

void TLYTallyController::start()
{
    eventQueue_->addOperationWithBlock([self = shared_from_this()] { self->startBlock(); });
    registerForApplicationLifecycleEvents();
    std::weak_ptr<TLYTallyController> weak = weak_from_this();
    observers_.push_back(foundation::NotificationCenter::defaultCenter().addObserver(
        KSTSettingsAvailableNotification, nullptr, [weak](const foundation::Notification&) {
            if (const auto self = weak.lock())
                self->initializeSettingsIfNeededWithKeystoneSettings(
                    self->environment_.settings ? self->environment_.settings() : nullptr);
        }));
    if (environment_.isFirstInstall)
        enqueueEvent(TLYLifecycleEvent::installEvent());
    enqueueEvent(TLYLifecycleEvent::appLaunchedEvent());
    initializeSettingsIfNeededWithKeystoneSettings(environment_.settings ? environment_.settings() : nullptr);
    // No advertising identifier exists on this platform.
    if (environment_.setAdvertisingToken)
        environment_.setAdvertisingToken(std::nullopt);
}

void TLYTallyController::registerForApplicationLifecycleEvents()
{
    std::weak_ptr<TLYTallyController> weak = weak_from_this();
    for (const char* name :
         {foundation::ApplicationWillTerminateNotification, foundation::ApplicationWillResignActiveNotification,
          foundation::ApplicationDidBecomeActiveNotification}) {
        observers_.push_back(foundation::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [weak](const foundation::Notification& notification) {
                if (const auto self = weak.lock())
                    self->enqueueEvent(TLYLifecycleEvent::eventWithNotification(notification));
            }));
    }
}

void TLYTallyController::startBlock()
{
    rootEventDirectory_ = eventDirectoryForRootDirectory(rootDirectory_);
    std::error_code ignored;
    std::filesystem::create_directories(rootEventDirectory_, ignored);
    currentLogURL_ = generateNewLogPath();
    settings_ = TLYSettings();
    metadata_ = environment_.metadata ? environment_.metadata(betaToken_) : nullptr;
    if (!metadata_)
        metadata_ = std::make_shared<const TLYMetadata>(TLYMetadata::Fields{});
    TLYRotateCrashMetadataOperation rotation(crashMetadataPathForRootDirectory(rootDirectory_), metadata_);
    rotation.main();
    previousExecutionMetadata_ = rotation.crashMetadata();
    if (!previousExecutionMetadata_)
        previousExecutionMetadata_ = std::make_shared<const TLYCrashMetadata>(std::nullopt);
    networkRetryHandler_ = std::make_shared<TLYNetworkRetryHandler>();
    uploader_ = TLYUploader::initWithQueue(eventQueue_, weak_from_this());
    cleanupAndProcessExistingFiles();
}

void TLYTallyController::logEvent(std::shared_ptr<const TLYEvent> event)
{
    if (!event)
        return;
    log("Logging Tally event: " + event->description());
    enqueueEvent(std::move(event));
}

bool TLYTallyController::shouldLogEvent() const
{
    if (!settings_)
        return false;
    if (!settings_->valid())
        return true;
    return settings_->shouldCollectAnalytics();
}

bool TLYTallyController::discards(const TLYEvent& event) const
{
    const auto& fields = metadata_->fields();
    return eventFilter_.shouldDiscardEvent(&event, fields.betaToken, fields.installationId,
                                           settings_ ? settings_->samplingRate() : 1);
}

void TLYTallyController::addWriteOperation(std::shared_ptr<const TLYEvent> event, bool previousExecution,
                                           const std::weak_ptr<foundation::Operation>& activity)
{
    std::shared_ptr<const TLYMetadataSerializable> metadata = metadata_;
    if (previousExecution)
        metadata = previousExecutionMetadata_;
    auto write = std::make_shared<TLYWriteEventOperation>(std::move(event), std::move(metadata), currentLogURL_);
    if (const auto held = activity.lock())
        held->addDependency(write);
    eventQueue_->addOperation(write);
}

void TLYTallyController::enqueueEvent(std::shared_ptr<const TLYEvent> event)
{
    if (!event)
        return;
    auto activity =
        TLYActivityOperation::operationByStartingActivityName("io.quenrow.RecordEvent", recordEventActivityOptions);
    std::weak_ptr<foundation::Operation> weakActivity = activity;
    auto block = std::make_shared<foundation::BlockOperation>([self = shared_from_this(), event, weakActivity] {
        if (!self->shouldLogEvent())
            return;
        if (self->discards(*event)) {
            log("Application is enabled for sampling, skipping " + event->description());
            return;
        }
        self->addWriteOperation(event, false, weakActivity);
        // The write holds the current file already, so the event that rotates is the file's last.
        if (self->shouldSubmitLogAtURL(self->currentLogURL_) || event->triggersFlush())
            self->rotateAndSubmitCurrentLog();
    });
    activity->addDependency(block);
    eventQueue_->addOperations({block, activity}, false);
}

void TLYTallyController::logCrashEvent(std::shared_ptr<const TLYCrashEvent> event)
{
    if (!event)
        return;
    auto activity = TLYActivityOperation::operationByStartingActivityName("io.quenrow.RecordCrashEvent",
                                                                          recordEventActivityOptions);
    std::weak_ptr<foundation::Operation> weakActivity = activity;
    auto block = std::make_shared<foundation::BlockOperation>([self = shared_from_this(), event, weakActivity] {
        log("Attempting to log " + event->name());
        if (!self->shouldLogEvent())
            return;
        if (self->discards(*event)) {
            log("Application is enabled for sampling, skipping " + event->description());
            return;
        }
        // The crash event starts a file of its own, written under the crashed run's metadata.
        if (::access(self->currentLogURL_.c_str(), R_OK) == 0)
            self->rotateAndSubmitCurrentLog();
        self->addWriteOperation(event, true, weakActivity);
        self->rotateAndSubmitCurrentLog();
    });
    activity->addDependency(block);
    eventQueue_->addOperations({block, activity}, false);
}

void TLYTallyController::initializeSettingsIfNeededWithKeystoneSettings(
    std::shared_ptr<const foundation::PropertyListDictionary> settings)
{
    eventQueue_->addOperationWithBlock([self = shared_from_this(), settings = std::move(settings)] {
        // Valid settings stay for the rest of the process; only the first ones are applied.
        if (!settings || (self->settings_ && self->settings_->valid()))
            return;
        self->settings_ = TLYSettings(settings);
        if (self->settings_->shouldCollectAnalytics()) {
            if (const auto url = self->settings_->tallyURL(); url && !BBXURLSession::isSecureURL(*url))
                kitLog("[Tally] Refusing the events URL \"" + *url
                       + "\" of the settings: the kits send requests over https only; the events wait on disk");
            log("Tally enabled with settings: " + describe(self->settings_->analyticsSection()));
            log("Logging events to " + self->rootEventDirectory_.string());
            self->setupFlushTimer();
            self->uploader_->setDefaultUploadTimeout(self->settings_->defaultUploadTimeout());
            self->uploader_->setLowPowerUploadTimeout(self->settings_->lowPowerUploadTimeout());
            // Listed once the chains already queued have packaged their logs: their uploads were made
            // while the settings were not valid and cancelled, so only this pass sends those packages.
            self->eventQueue_->addOperationWithBlock([self] { self->uploadAllMultipartFiles(); });
        } else {
            log("Tally is disabled. Cleaning up.");
            self->removeAllLogs();
        }
    });
}

void TLYTallyController::setupFlushTimer()
{
    const double interval = settings_ ? settings_->flushInterval() : 0.0;
    if (!(interval > 0)) {
        flushTimer_.reset();
        return;
    }
    std::weak_ptr<TLYTallyController> weak = weak_from_this();
    flushTimer_ = TLYTimer::initWithTimeInterval(interval, eventQueue_, "io.quenrow.TimedEventsFlush", [weak] {
        if (const auto self = weak.lock())
            self->flushTimerFired();
    });
}

void TLYTallyController::flushTimerFired()
{
    if (!settings_ || !(settings_->flushInterval() > 0)) {
        flushTimer_.reset();
        return;
    }
    if (shouldSubmitLogAtURL(currentLogURL_))
        rotateAndSubmitCurrentLog();
}

bool TLYTallyController::shouldSubmitLogAtURL(const std::filesystem::path& log) const
{
    const std::int64_t limit = settings_ ? settings_->maximumPayloadSize() : 8000;
    const std::uint64_t size = TLYFileUtils::fileSizeAtURL(log);
    return limit < 0 || size > static_cast<std::uint64_t>(limit);
}

void TLYTallyController::rotateAndSubmitCurrentLog()
{
    auto activity =
        TLYActivityOperation::operationByStartingActivityName("io.quenrow.RotateAndSubmit", rotateActivityOptions);
    const auto old = currentLogURL_;
    currentLogURL_ = generateNewLogPath();
    auto operations = operationsForUncompressedLog(old);
    for (const auto& operation : operations)
        activity->addDependency(operation);
    operations.push_back(activity);
    eventQueue_->addOperations(std::move(operations), false);
}

std::vector<std::shared_ptr<foundation::Operation>>
TLYTallyController::operationsForUncompressedLog(const std::filesystem::path& logFile)
{
    if (const auto extension = TLYFileUtils::pathExtension(logFile); extension != "log")
        log("Error: attempted to submit file with invalid extension " + extension + ", should be log");
    const auto gz = TLYCompressLogOperation::compressedURLForUncompressedURL(logFile);
    const auto boundary = KSTMultipartMimeStreamEncoder::generateBoundary();
    const auto packaged = multipartMimeURLWithBoundary(boundary);
    auto compress = std::make_shared<TLYCompressLogOperation>(logFile, gz);
    // A log whose compression failed stays for the next start, which compresses it again.
    compress->setCompletionBlock([logFile, gz] {
        if (fileExists(gz))
            removeQuietly(logFile);
    });
    auto package = std::make_shared<TLYPackageLogOperation>(gz, packaged, boundary);
    package->addDependency(compress);
    package->setCompletionBlock([gz, packaged] {
        if (fileExists(packaged))
            removeQuietly(gz);
    });
    auto upload = uploadOperationForFileAtURL(packaged, boundary);
    upload->addDependency(package);
    return {compress, package, upload};
}

std::vector<std::shared_ptr<foundation::Operation>>
TLYTallyController::operationsForCompressedLog(const std::filesystem::path& gz)
{
    if (const auto extension = TLYFileUtils::pathExtension(gz); extension != "gz")
        log("Error: attempted to submit file with invalid extension " + extension + ", should be gz");
    const auto boundary = KSTMultipartMimeStreamEncoder::generateBoundary();
    const auto packaged = multipartMimeURLWithBoundary(boundary);
    auto package = std::make_shared<TLYPackageLogOperation>(gz, packaged, boundary);
    package->setCompletionBlock([gz, packaged] {
        if (fileExists(packaged))
            removeQuietly(gz);
    });
    auto upload = uploadOperationForFileAtURL(packaged, boundary);
    upload->addDependency(package);
    return {package, upload};
}

std::shared_ptr<foundation::Operation>
TLYTallyController::uploadOperationForFileAtURL(const std::filesystem::path& file, const std::string& boundary)
{
    auto operation = std::make_shared<TLYUploadOperation>(
        uploader_, eventsURL(), metadata_ ? metadata_->fields().APIKey : std::nullopt, file.string(), boundary);
    // Without valid settings or a usable endpoint the package stays for a later upload.
    if (!operation->tallyURL())
        operation->cancel();
    return operation;
}

std::optional<std::string> TLYTallyController::eventsURL() const
{
    if (!settings_ || !settings_->valid())
        return std::nullopt;
    auto url = settings_->tallyURL();
    if (!url || !BBXURLSession::isSecureURL(*url))
        return std::nullopt;
    return url;
}

bool TLYTallyController::uploadEndsItsPackage(const std::optional<foundation::Error>& error)
{
    if (!error)
        return true;
    if (error->domain != KSTNetworkErrorDomain)
        return false;
    switch (error->code) {
    case KSTNetworkErrorUnexpected:
    case KSTNetworkErrorClient: return true;
    case TLYUploadErrorRetriesExhausted:
        // The last try's own error says whether the service answered or could not be reached.
        return !error->underlyingErrors.empty() && error->underlyingErrors.back().domain == KSTNetworkErrorDomain;
    default: return false;
    }
}

void TLYTallyController::removeAllLogs()
{
    for (const auto& file : TLYFileUtils::allFilesInDirectory(rootEventDirectory_))
        removeQuietly(file);
}

void TLYTallyController::cleanupAndProcessExistingFiles()
{
    auto cleanup = std::make_shared<TLYCleanupFilesOperation>(rootEventDirectory_,
                                                              settings_ ? settings_->maxPendingSendFiles() : 100);
    cleanup->setSuccessBlock([self = shared_from_this()](const TLYCleanupFilesOperation::Files& logs,
                                                         const TLYCleanupFilesOperation::Files& compressed,
                                                         const TLYCleanupFilesOperation::Files& packaged) {
        for (const auto& logFile : logs)
            self->eventQueue_->addOperations(self->operationsForUncompressedLog(logFile), false);
        for (const auto& gz : compressed)
            self->eventQueue_->addOperations(self->operationsForCompressedLog(gz), false);
        std::vector<std::filesystem::path> files(packaged.begin(), packaged.end());
        self->uploader_->attemptToReconnectBackgroundSessionWithCompletionBlock(
            [self, files] { self->uploadMultipartFiles(files); });
    });
    eventQueue_->addOperation(cleanup);
}

void TLYTallyController::uploadAllMultipartFiles()
{
    const auto found = TLYFileUtils::filesWithExtension("multipartmime", rootEventDirectory_);
    uploadMultipartFiles(std::vector<std::filesystem::path>(found.begin(), found.end()));
}

void TLYTallyController::uploadMultipartFiles(const std::vector<std::filesystem::path>& files)
{
    for (const auto& file : files) {
        const auto boundary = boundaryFromURL(file);
        if (!boundary)
            continue;
        eventQueue_->addOperation(uploadOperationForFileAtURL(file, *boundary));
    }
}

std::optional<std::string> TLYTallyController::boundaryFromURL(const std::filesystem::path& file)
{
    if (TLYFileUtils::pathExtension(file) != "multipartmime")
        return std::nullopt;
    return file.stem().string();
}

std::filesystem::path TLYTallyController::multipartMimeURLWithBoundary(const std::string& boundary) const
{
    return rootEventDirectory_ / (boundary + ".multipartmime");
}

std::filesystem::path TLYTallyController::generateNewLogPath() const
{
    return rootEventDirectory_ / (KSTGenerateUUIDString() + ".log");
}

std::string TLYTallyController::uploaderFilePathForUniqueName(TLYUploader&, const std::string& uniqueName)
{
    return multipartMimeURLWithBoundary(uniqueName).string();
}

void TLYTallyController::uploaderDidFinishUploadWithUniqueName(TLYUploader&, const std::string& uniqueName,
                                                               const std::optional<foundation::Error>& error)
{
    if (error)
        log("Failed to upload '" + uniqueName + "': " + describe(*error));
    log("Finished transmission of '" + uniqueName + "'.");
    if (uniqueName.empty())
        return;
    if (uploadEndsItsPackage(error))
        removeQuietly(multipartMimeURLWithBoundary(uniqueName));
    else
        log("Keeping '" + uniqueName + "' for a later upload.");
}

void TLYTallyController::uploaderCompletedRequest(TLYUploader&, const net::URLRequest& request,
                                                  const std::optional<net::HTTPURLResponse>& response,
                                                  const std::string& uniqueName,
                                                  const std::optional<foundation::Error>& error,
                                                  CompletionHandler completionHandler)
{
    networkRetryHandler_->handleCompletedRequest(
        request, response ? &*response : nullptr, uniqueName, error,
        [uniqueName, error, completionHandler](bool retry, std::optional<foundation::Error> handlerError) {
            if (error)
                log("Error transmitting '" + uniqueName + "': " + describe(*error));
            if (retry)
                log("Scheduling retry for '" + uniqueName + "'.");
            if (completionHandler)
                completionHandler(retry, std::move(handlerError));
        });
}

net::ChallengeDisposition TLYTallyController::uploaderSessionDidReceiveChallenge(TLYUploader&, net::URLSession&,
                                                                                 const net::ServerTrust& trust)
{
    return networkRetryHandler_->handleChallenge(trust);
}

} // namespace kits
