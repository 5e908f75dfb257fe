// The beta update check: after each settings download, a build distributed for testing asks the beta
// service whether a newer test build exists and keeps the answer. It runs only with a beta token, and
// the platform's token source yields none, so start() declines; tests hand in a source of their own.
#pragma once

#include "foundation/error.h"
#include "foundation/notification_center.h"
#include "foundation/property_list.h"
#include "foundation/scheduler.h"
#include "kits/crash/bbx_settings.h"
#include "kits/platform/kst_certificate.h"
#include "net/url_request.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace foundation {
class SerialQueue;
}

namespace kits {

class BBXBetaController;
class KSTNetworkClient;

// A newer test build: where to get it and its version text.
class BBXBetaUpdate {
public:
    // A dictionary whose "url" is a URL, with an optional "version_string". Anything else yields
    // nothing and, in `error`, NSURLErrorDomain -1017 (cannot parse response).
    static std::optional<BBXBetaUpdate> betaUpdateWithDictionary(const foundation::PropertyListValue& value,
                                                                 std::optional<foundation::Error>& error);

    const std::string& url() const { return url_; }
    const std::optional<std::string>& version() const { return version_; }

    // The prompt's texts: the host's "Blackbox" strings table, else the built-in English.
    static std::string promptTitle();
    // The application's display name stands in the text.
    static std::string promptMessage();
    static std::string cancelLabel();
    static std::string installLabel();

private:
    BBXBetaUpdate(std::string url, std::optional<std::string> version)
        : url_(std::move(url)), version_(std::move(version))
    {}

    std::string url_;
    std::optional<std::string> version_;
};

class BBXBetaControllerDelegate {
public:
    virtual ~BBXBetaControllerDelegate() = default;
    virtual std::optional<std::string> APIKeyForBetaController(BBXBetaController& controller) = 0;
    virtual BBXSettings settingsForBetaController(BBXBetaController& controller) = 0;
};

// Yields the build's beta token, read once per controller.
using BBXBetaTokenSource = std::function<std::optional<std::string>()>;

class BBXBetaController : public std::enable_shared_from_this<BBXBetaController> {
public:
    static constexpr std::uint64_t requestRetryLimit = 10;
    static constexpr double requestTimeout = 10.0;

    // The platform's source: no token on Linux.
    static BBXBetaTokenSource platformBetaTokenSource();
    // Not an application extension and signed for distribution.
    static bool isBetaSupported();
    static KSTCertificateArray pinnnedCertificates();

    static std::shared_ptr<BBXBetaController> create(std::weak_ptr<BBXBetaControllerDelegate> delegate,
                                                     BBXBetaTokenSource tokenSource = platformBetaTokenSource());
    ~BBXBetaController();
    BBXBetaController(const BBXBetaController&) = delete;
    BBXBetaController& operator=(const BBXBetaController&) = delete;

    // Without a beta token false; else observes the settings downloads and is true.
    bool start();
    std::optional<std::string> betaToken();

    void checkForUpdate();
    void applicationWillEnterForeground();
    // On the beta queue: loads an update unless checks are suspended or a request is under way.
    void maybeGetUpdate(std::function<void(std::optional<BBXBetaUpdate>)> completion);
    void loadUpdateWithCompletionBlock(
        std::function<void(std::optional<BBXBetaUpdate>, std::optional<foundation::Error>)> completion);
    void handledCompletedBetaRequestWithData(
        const std::optional<std::string>& data, const std::optional<foundation::Error>& error,
        std::function<void(std::optional<BBXBetaUpdate>, std::optional<foundation::Error>)> completion);
    std::optional<BBXBetaUpdate> updateWithData(const std::string& data, std::optional<foundation::Error>& error);
    void didGetUpdate(const std::optional<BBXBetaUpdate>& update);
    // No alert here: the update is only kept.
    void showBetaAlertForUpdate(const BBXBetaUpdate& update);
    void temporarilySuspendChecks();
    void allowChecks();
    bool shouldGetUpdates();
    void keystoneSettingsDownloaded(const foundation::Notification& notification);

    // The GET of the update check; nothing without a beta endpoint.
    std::optional<net::URLRequest> betaUpdateRequest();
    std::optional<std::string> betaUpdateURL();
    std::optional<std::string> betaEndpoint();
    double betaUpdateSuspendDurationSecs();
    BBXSettings settings();
    std::optional<std::string> APIKey();
    std::optional<std::string> appBundleIdentifier();
    std::optional<std::string> appBuildVersion();
    std::optional<std::string> appDisplayVersion();
    std::optional<std::string> appInstanceIdentifier();
    std::int64_t appInstallationSource();

    bool checksSuspended() const { return checksSuspended_.load(); }
    bool retrying() const { return retrying_.load(); }
    std::optional<BBXBetaUpdate> activeUpdate() const;
    const std::shared_ptr<KSTNetworkClient>& networkClient() const { return networkClient_; }

private:
    BBXBetaController(std::weak_ptr<BBXBetaControllerDelegate> delegate, BBXBetaTokenSource tokenSource);

    BBXBetaTokenSource tokenSource_;
    std::once_flag tokenRead_;
    std::optional<std::string> betaToken_;
    std::atomic<bool> checksSuspended_ = false;
    std::atomic<bool> retrying_ = false;
    std::weak_ptr<BBXBetaControllerDelegate> delegate_;
    std::shared_ptr<KSTNetworkClient> networkClient_;
    mutable std::mutex mutex_; // activeUpdate_, checkSuspensionTimer_, settingsObserver_
    std::optional<BBXBetaUpdate> activeUpdate_;
    std::optional<foundation::ScheduledWork> checkSuspensionTimer_;
    foundation::ObserverToken settingsObserver_;
    std::shared_ptr<foundation::SerialQueue> queue_;
};

} // namespace kits
