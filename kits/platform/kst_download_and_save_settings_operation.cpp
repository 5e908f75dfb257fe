// The settings download: the request, the client call and the replacement of the cached file.
#include "kits/platform/kst_download_and_save_settings_operation.h"

#include "kits/platform/bundle_functions.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_error_description.h"
#include "kits/platform/kst_network_client.h"
#include "kits/platform/kst_network_response_handler.h"
#include "kits/platform/kst_settings.h"

#include <fstream>
#include <system_error>
#include <unistd.h>

namespace kits {

namespace {

foundation::Error fileError(const std::string& what, const std::error_code& code)
{
    return foundation::Error{"NSCocoaErrorDomain", code.value(), what + ": " + code.message(), {}, "", {}};
}

} // namespace

std::shared_ptr<KSTDownloadAndSaveSettingsOperation> KSTDownloadAndSaveSettingsOperation::initWithAPIKey(
    const std::optional<std::string>& key, std::weak_ptr<KSTDownloadAndSaveSettingsOperationDelegate> delegate,
    std::optional<std::string> settingsURL, std::filesystem::path settingsDirectoryPath,
    std::filesystem::path settingsFilePath, std::string installIdentifier, std::optional<std::string> advertisingToken,
    std::weak_ptr<KSTNetworkClient> networkClient, std::string missingURLReason)
{
    if (!key)
        return nullptr;
    return std::make_shared<KSTDownloadAndSaveSettingsOperation>(
        *key, std::move(delegate), std::move(settingsURL), std::move(settingsDirectoryPath),
        std::move(settingsFilePath), std::move(installIdentifier), std::move(advertisingToken),
        std::move(networkClient), std::move(missingURLReason));
}

KSTDownloadAndSaveSettingsOperation::KSTDownloadAndSaveSettingsOperation(
    std::string key, std::weak_ptr<KSTDownloadAndSaveSettingsOperationDelegate> delegate,
    std::optional<std::string> settingsURL, std::filesystem::path settingsDirectoryPath,
    std::filesystem::path settingsFilePath, std::string installIdentifier, std::optional<std::string> advertisingToken,
    std::weak_ptr<KSTNetworkClient> networkClient, std::string missingURLReason)
    : KSTNetworkOperation(std::move(key), "KSTDownloadAndSaveSettingsOperation"), delegate_(std::move(delegate)),
      settingsURL_(std::move(settingsURL)), settingsDirectoryPath_(std::move(settingsDirectoryPath)),
      settingsFilePath_(std::move(settingsFilePath)), installIdentifier_(std::move(installIdentifier)),
      networkClient_(std::move(networkClient)), missingURLReason_(std::move(missingURLReason))
{
    if (KSTShouldReportDeviceIdentifiers()) {
        advertisingToken_ = std::move(advertisingToken);
    } else {
        kitDebugLog("[Keystone] Suppressing device identifier reporting");
    }
}

std::optional<foundation::Error> KSTDownloadAndSaveSettingsOperation::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

net::URLRequest KSTDownloadAndSaveSettingsOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
    const std::string& url) const
{
    net::URLRequest request = KSTNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(url);
    request.httpMethod = "GET";
    request.setValueForHTTPHeaderField("application/json", "Accept");
    request.setValueForHTTPHeaderField(installIdentifier_, "X-Blackbox-Installation-ID");
    request.setValueForHTTPHeaderField(KSTHostModelName().value_or(""), "X-Blackbox-Device-Model");
    request.setValueForHTTPHeaderField(KSTHostOSBuildVersion().value_or(""), "X-Blackbox-OS-Build-Version");
    request.setValueForHTTPHeaderField(KSTHostOSDisplayVersion(), "X-Blackbox-OS-Display-Version");
    request.setValueForHTTPHeaderField(KSTPlatformDisplayVersion, "X-Blackbox-API-Client-Version");
    if (advertisingToken_ && !advertisingToken_->empty())
        request.setValueForHTTPHeaderField(*advertisingToken_, "X-Blackbox-Advertising-Token");
    return request;
}

void KSTDownloadAndSaveSettingsOperation::main()
{
    const auto client = networkClient_.lock();
    if (!settingsURL_ || !client) {
        auto error = KSTNetworkResponseHandler::errorForCode(KSTNetworkErrorNoTask, {});
        error.localizedDescription = settingsURL_ ? "the network client has ended" : missingURLReason_;
        complete(std::move(error));
        return;
    }
    // Held strongly until the completion has run: nothing else keeps a started operation alive.
    auto self = std::static_pointer_cast<KSTDownloadAndSaveSettingsOperation>(shared_from_this());
    client->startDownloadTaskWithRequest(
        mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(*settingsURL_),
        [self](std::optional<std::filesystem::path> location, std::optional<net::HTTPURLResponse>,
               std::optional<foundation::Error> error) {
            if (!error && location) {
                error = replaceSettings(*location, self->settingsDirectoryPath_, self->settingsFilePath_);
                if (error)
                    kitLog("[Keystone] Unable to complete settings download " + KSTErrorDescription(*error));
            } else if (!error) {
                error = KSTNetworkResponseHandler::errorForCode(KSTNetworkErrorNoTask, {});
            }
            self->complete(std::move(error));
        },
        1);
}

void KSTDownloadAndSaveSettingsOperation::complete(std::optional<foundation::Error> error)
{
    {
        std::lock_guard lock(mutex_);
        error_ = error;
    }
    if (const auto delegate = delegate_.lock())
        delegate->operationDidDownloadAndSaveSettingsWithError(*this, error);
    finishWithError(std::move(error));
}

std::optional<foundation::Error> KSTDownloadAndSaveSettingsOperation::replaceSettings(
    const std::filesystem::path& downloaded, const std::filesystem::path& directory, const std::filesystem::path& file)
{
    std::lock_guard fileLock(KSTSettings::fileMutex());
    std::error_code code;
    std::filesystem::remove_all(directory, code); // a failure shows when the file is put in place
    code.clear();
    std::filesystem::create_directories(directory, code);
    if (code)
        return fileError("Cannot create " + directory.string(), code);
    // The session removes its download file once this call returns: copy it next to its final name,
    // then rename it into place.
    std::filesystem::path partial = file;
    partial += ".download-" + std::to_string(getpid());
    std::filesystem::copy_file(downloaded, partial, std::filesystem::copy_options::overwrite_existing, code);
    if (!code)
        std::filesystem::rename(partial, file, code);
    if (code) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        return fileError("Cannot move the settings to " + file.string(), code);
    }
    return std::nullopt;
}

} // namespace kits
