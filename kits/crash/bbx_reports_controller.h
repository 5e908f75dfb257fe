// Turns one report directory into an uploaded package: moves it to "processing", symbolicates it,
// packages it into "prepared", removes the directory and hands the package to the network client
// (urgent ones are sent and awaited on the calling thread). When an upload ends the package goes on
// success and the delegate hears the outcome either way. Without a reports endpoint nothing is sent
// and the package waits in "prepared".
#pragma once

#include "foundation/error.h"
#include "kits/crash/bbx_settings.h"
#include "net/url_request.h"

#include <memory>
#include <optional>
#include <string>

namespace foundation {
class OperationQueue;
}

namespace kits {

class BBXFileManager;
class BBXInternalReport;
class BBXNetworkClient;
class BBXReportsController;

class BBXReportsControllerDelegate {
public:
    virtual ~BBXReportsControllerDelegate() = default;
    virtual void reportsControllerDidCompletePackageSubmission(BBXReportsController& controller,
                                                               const std::string& packagePath,
                                                               const std::optional<foundation::Error>& error) = 0;
    virtual void reportsControllerDidCompleteAllSubmissions(BBXReportsController& controller) = 0;
    virtual BBXSettings settingsForReportsController(BBXReportsController& controller) = 0;
    virtual std::optional<std::string> APIKeyForReportsController(BBXReportsController& controller) = 0;
    // The escaped bundle identifier.
    virtual std::string bundleIdentifierForReportsController(BBXReportsController& controller) = 0;
};

class BBXReportsController {
public:
    static constexpr const char* developerToken = "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f";
    static constexpr double requestTimeout = 10.0;

    BBXReportsController(std::shared_ptr<foundation::OperationQueue> queue,
                         std::weak_ptr<BBXReportsControllerDelegate> delegate, std::shared_ptr<BBXNetworkClient> client,
                         std::shared_ptr<BBXFileManager> fileManager);

    const std::shared_ptr<foundation::OperationQueue>& operationQueue() const { return operationQueue_; }
    const std::shared_ptr<BBXNetworkClient>& networkClient() const { return networkClient_; }
    const std::shared_ptr<BBXFileManager>& fileManager() const { return fileManager_; }

    // Inside an activity: processing (when asked), packaging, removal of the directory, upload.
    // True when an upload was started.
    bool prepareAndSubmitReport(const std::shared_ptr<BBXInternalReport>& report, bool urgent, bool withProcessing);
    bool uploadPackagedReportAtPath(const std::string& path, bool urgent);
    bool submitPackageMultipartMimeAtPath(const std::string& path, bool synchronously);
    // The end of an upload: the package goes when it was sent; the delegate hears it either way.
    void reportUploadAtPathCompletedWithError(const std::string& path, const std::optional<foundation::Error>& error);
    bool cleanUpSubmittedReportAtPath(const std::string& path);

    // endpoint + "/sdk-api/v1/platforms/mac/apps/<bundle id>/reports"; none without an endpoint.
    std::optional<std::string> reportURL();
    std::optional<std::string> reportEndpoint();
    // POST, no local cache, the time-out and the kit's headers up to the API key, in order.
    net::URLRequest mutableRequestWithURL(const std::string& url, double timeout);
    // "Content-Type" from the package's boundary (its name) and "Content-Length"; false without a size.
    bool fillInRequestForMultipartMimeDataAtPath(net::URLRequest& request, const std::string& path);
    BBXSettings settings();
    std::string appBundleIdentifier();
    std::optional<std::string> APIKey();
    static std::string localeIdentifier();
    bool submissionEnabled();
    bool packagingEnabled();

private:
    std::weak_ptr<BBXReportsControllerDelegate> delegate_;
    std::shared_ptr<foundation::OperationQueue> operationQueue_;
    std::shared_ptr<BBXNetworkClient> networkClient_;
    std::shared_ptr<BBXFileManager> fileManager_;
};

} // namespace kits
