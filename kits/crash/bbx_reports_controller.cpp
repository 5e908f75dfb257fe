// The report pipeline from a directory to a started upload, and the end of an upload.

#include "kits/crash/bbx_reports_controller.h"

#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_network_client.h"
#include "kits/crash/bbx_package_report_operation.h"
#include "kits/crash/bbx_process_report_operation.h"
#include "kits/crash/bbx_symbol_resolver.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"
#include "kits/platform/kst_network_operation.h"
#include "kits/platform/kst_url_builder.h"

#include <filesystem>

namespace kits {

namespace fs = std::filesystem;

BBXReportsController::BBXReportsController(std::shared_ptr<foundation::OperationQueue> queue,
                                           std::weak_ptr<BBXReportsControllerDelegate> delegate,
                                           std::shared_ptr<BBXNetworkClient> client,
                                           std::shared_ptr<BBXFileManager> fileManager)
    : delegate_(std::move(delegate)), operationQueue_(std::move(queue)), networkClient_(std::move(client)),
      fileManager_(std::move(fileManager))
{}

bool BBXReportsController::prepareAndSubmitReport(const std::shared_ptr<BBXInternalReport>& report, bool urgent,
                                                  bool withProcessing)
{
    if (!report || !fileManager_)
        return false;
    bool started = false;
    BBXApplicationActivity(
        BBXActivitySuddenTerminationDisabled | BBXActivityAutomaticTerminationDisabled,
        "Blackbox Crash Report Processing", [&] {
            if (withProcessing) {
                if (!fileManager_->moveItemAtPathToDirectory(report->path(), fileManager_->processingPath())) {
                    kitLog("[Blackbox:Crash:Reports] Unable to move report for processing");
                    return;
                }
                report->setPath((fs::path(fileManager_->processingPath()) / report->directoryName()).string());
                std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();
            }
            if (!packagingEnabled()) {
                kitLog("[Blackbox:Crash:Reports] Report packaging disabled");
                return;
            }
            auto packaging = std::make_shared<BBXPackageReportOperation>(report, fileManager_);
            packaging->start();
            if (!packaging->finalPath()) {
                kitLog("[Blackbox:Crash:Reports] Unable to package report");
                return;
            }
            if (!fileManager_->removeItemAtPath(report->path()))
                kitLog("[Blackbox:Crash:Reports] Unable to remove a processing item");
            kitLog("[Blackbox:Crash:Reports] Packaged report with id '" + report->identifier() + "' for submission");
            started = uploadPackagedReportAtPath(*packaging->finalPath(), urgent);
        });
    return started;
}

bool BBXReportsController::uploadPackagedReportAtPath(const std::string& path, bool urgent)
{
    // Without an endpoint there is nowhere to send to: the package waits in "prepared".
    if (!submissionEnabled() || !reportEndpoint()) {
        kitLog("[Blackbox:Crash:Reports] Submission disabled");
        return false;
    }
    kitDebugLog(std::string("[Blackbox:Crash:Reports] Submitting report") + (urgent ? " as urgent" : ""));
    return submitPackageMultipartMimeAtPath(path, urgent);
}

bool BBXReportsController::submitPackageMultipartMimeAtPath(const std::string& path, bool synchronously)
{
    kitDebugLog(std::string("[Blackbox:Crash:Reports] Submitting ") + (synchronously ? "sync" : "async") + " " + path);
    const auto size = fileManager_ ? fileManager_->fileSizeAtPath(path) : std::nullopt;
    if (!size || *size == 0) {
        kitDebugLog("[Blackbox:Crash:Reports] Already-submitted report being ignored");
        return false;
    }
    const auto url = reportURL();
    if (!url || !networkClient_)
        return false;
    net::URLRequest request = mutableRequestWithURL(*url, synchronously && !networkClient_->supportsBackgroundRequests()
                                                              ? BBXNetworkClient::synchronousTimeout
                                                              : requestTimeout);
    if (!fillInRequestForMultipartMimeDataAtPath(request, path)) {
        kitLog("[Blackbox:Crash:Reports] Could not determine size of multipart mime file");
        return false;
    }
    networkClient_->startUploadRequest(request, path, synchronously);
    return true;
}

void BBXReportsController::reportUploadAtPathCompletedWithError(const std::string& path,
                                                                const std::optional<foundation::Error>& error)
{
    kitDebugLog("[Blackbox:Crash:Reports] completed submission of " + path);
    if (!error && !cleanUpSubmittedReportAtPath(path))
        kitLog("[Blackbox:Crash:Reports] Unable to remove packaged submission");
    if (const auto delegate = delegate_.lock())
        delegate->reportsControllerDidCompletePackageSubmission(*this, path, error);
}

bool BBXReportsController::cleanUpSubmittedReportAtPath(const std::string& path)
{
    return fileManager_ && fileManager_->removeItemAtPath(path);
}

std::optional<std::string> BBXReportsController::reportEndpoint()
{
    const auto value = BBXSettings::valueForConfigurationKey("ReportsEndpoint");
    const std::string* text = value ? value->get<std::string>() : nullptr;
    if (!text || text->empty())
        return std::nullopt;
    return *text;
}

std::optional<std::string> BBXReportsController::reportURL()
{
    const auto endpoint = reportEndpoint();
    if (!endpoint)
        return std::nullopt;
    KSTURLBuilder builder = KSTURLBuilder::URLWithBase(*endpoint);
    builder.appendComponent("/sdk-api/v1/platforms/");
    builder.appendComponent("mac");
    builder.appendComponent("/apps/");
    builder.appendComponent(appBundleIdentifier());
    builder.appendComponent("/reports");
    return builder.URL();
}

net::URLRequest BBXReportsController::mutableRequestWithURL(const std::string& url, double timeout)
{
    net::URLRequest request(url);
    request.httpMethod = "POST";
    request.cachePolicy = net::URLRequestCachePolicy::reloadIgnoringLocalCacheData;
    request.timeoutInterval = timeout;
    const std::string locale = localeIdentifier();
    request.setValueForHTTPHeaderField("Blackbox Mac SDK/3.8.4", "User-Agent");
    request.setValueForHTTPHeaderField("application/json", "Accept");
    request.setValueForHTTPHeaderField("utf-8", "Accept-Charset");
    request.setValueForHTTPHeaderField(locale, "Accept-Language");
    request.setValueForHTTPHeaderField(locale, "Content-Language");
    request.setValueForHTTPHeaderField(developerToken, "X-Blackbox-Developer-Token");
    request.setValueForHTTPHeaderField("com.mirrowick.blackbox.mac", "X-Blackbox-API-Client-Id");
    request.setValueForHTTPHeaderField("3.8.4", "X-Blackbox-API-Client-Display-Version");
    request.setValueForHTTPHeaderField("121", "X-Blackbox-API-Client-Build-Version");
    request.setValueForHTTPHeaderField(APIKey().value_or(std::string()), "X-Blackbox-API-Key");
    return request;
}

bool BBXReportsController::fillInRequestForMultipartMimeDataAtPath(net::URLRequest& request, const std::string& path)
{
    const auto size = fileManager_ ? fileManager_->fileSizeAtPath(path) : std::nullopt;
    if (!size)
        return false;
    const std::string boundary = fs::path(path).stem().string();
    request.setValueForHTTPHeaderField(KSTMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(boundary),
                                       "Content-Type");
    request.setValueForHTTPHeaderField(std::to_string(*size), "Content-Length");
    return true;
}

BBXSettings BBXReportsController::settings()
{
    if (const auto delegate = delegate_.lock())
        return delegate->settingsForReportsController(*this);
    return BBXSettings(std::nullopt);
}

std::string BBXReportsController::appBundleIdentifier()
{
    const auto delegate = delegate_.lock();
    return delegate ? delegate->bundleIdentifierForReportsController(*this) : std::string();
}

std::optional<std::string> BBXReportsController::APIKey()
{
    const auto delegate = delegate_.lock();
    return delegate ? delegate->APIKeyForReportsController(*this) : std::nullopt;
}

std::string BBXReportsController::localeIdentifier()
{
    return KSTNetworkOperation::localeIdentifier();
}

bool BBXReportsController::submissionEnabled()
{
    return settings().shouldSubmitReports();
}

bool BBXReportsController::packagingEnabled()
{
    return settings().shouldPackageReports();
}

} // namespace kits
