// Downloads the settings document through the network client (one repetition allowed) and, on
// success, replaces the settings directory with one holding the new "settings.json". The delegate
// hears the outcome on the network client's queue before the operation finishes.
#pragma once

#include "kits/platform/kst_network_operation.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kits {

class KSTNetworkClient;
class KSTDownloadAndSaveSettingsOperation;

class KSTDownloadAndSaveSettingsOperationDelegate {
public:
    virtual ~KSTDownloadAndSaveSettingsOperationDelegate() = default;
    virtual void operationDidDownloadAndSaveSettingsWithError(KSTDownloadAndSaveSettingsOperation& operation,
                                                              const std::optional<foundation::Error>& error) = 0;
};

class KSTDownloadAndSaveSettingsOperation final : public KSTNetworkOperation {
public:
    // Nothing without an API key. Without a settings URL (no endpoint configured) the operation fails
    // at once, without a request, with an error whose text is `missingURLReason`.
    static std::shared_ptr<KSTDownloadAndSaveSettingsOperation>
    initWithAPIKey(const std::optional<std::string>& key,
                   std::weak_ptr<KSTDownloadAndSaveSettingsOperationDelegate> delegate,
                   std::optional<std::string> settingsURL, std::filesystem::path settingsDirectoryPath,
                   std::filesystem::path settingsFilePath, std::string installIdentifier,
                   std::optional<std::string> advertisingToken, std::weak_ptr<KSTNetworkClient> networkClient,
                   std::string missingURLReason = "no settings URL");

    KSTDownloadAndSaveSettingsOperation(std::string key,
                                        std::weak_ptr<KSTDownloadAndSaveSettingsOperationDelegate> delegate,
                                        std::optional<std::string> settingsURL,
                                        std::filesystem::path settingsDirectoryPath,
                                        std::filesystem::path settingsFilePath, std::string installIdentifier,
                                        std::optional<std::string> advertisingToken,
                                        std::weak_ptr<KSTNetworkClient> networkClient, std::string missingURLReason);

    std::optional<foundation::Error> error() const;
    const std::optional<std::string>& settingsURL() const { return settingsURL_; }
    const std::filesystem::path& settingsDirectoryPath() const { return settingsDirectoryPath_; }
    const std::filesystem::path& settingsFilePath() const { return settingsFilePath_; }
    const std::string& installIdentifier() const { return installIdentifier_; }
    // The token kept only while device identifiers may be reported.
    const std::optional<std::string>& advertisingToken() const { return advertisingToken_; }

    void main() override;
    // The default request with "Accept", the installation and host headers, the client version and,
    // when there is one, the advertising token.
    net::URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const override;

    // Replaces the directory with a new one holding `downloaded` as the settings file. The file is
    // written beside its final name and renamed, so a reader never sees a part of it.
    static std::optional<foundation::Error> replaceSettings(const std::filesystem::path& downloaded,
                                                            const std::filesystem::path& directory,
                                                            const std::filesystem::path& file);

private:
    void complete(std::optional<foundation::Error> error);

    std::weak_ptr<KSTDownloadAndSaveSettingsOperationDelegate> delegate_;
    mutable std::mutex mutex_;
    std::optional<foundation::Error> error_;
    const std::optional<std::string> settingsURL_;
    const std::filesystem::path settingsDirectoryPath_;
    const std::filesystem::path settingsFilePath_;
    const std::string installIdentifier_;
    std::optional<std::string> advertisingToken_;
    std::weak_ptr<KSTNetworkClient> networkClient_;
    const std::string missingURLReason_;
};

} // namespace kits
