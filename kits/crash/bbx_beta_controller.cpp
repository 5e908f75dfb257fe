// The beta update check: the request, its answer and the suspension of checks after an answer.

#include "kits/crash/bbx_beta_controller.h"

#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "foundation/property_list_json.h"
#include "kits/crash/bbx_reports_controller.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_error_description.h"
#include "kits/platform/kst_network_client.h"
#include "kits/platform/kst_network_operation.h"
#include "kits/platform/kst_settings_onboarding_manager.h"
#include "kits/platform/kst_url_builder.h"
#include "net/url_error.h"

namespace kits {

namespace {

constexpr std::int64_t URLErrorCannotParseResponse = -1017;
// What a failed JSON decoding reports.
constexpr const char* CocoaErrorDomain = "NSCocoaErrorDomain";
constexpr std::int64_t PropertyListReadCorruptError = 3840;

foundation::Error errorWith(std::string domain, std::int64_t code, std::string description = {})
{
    foundation::Error error;
    error.domain = std::move(domain);
    error.code = code;
    error.localizedDescription = std::move(description);
    return error;
}

std::string replacingPlaceholder(std::string text, const std::string& value)
{
    if (const auto at = text.find("%@"); at != std::string::npos)
        text.replace(at, 2, value);
    return text;
}

} // namespace

std::optional<BBXBetaUpdate> BBXBetaUpdate::betaUpdateWithDictionary(const foundation::PropertyListValue& value,
                                                                     std::optional<foundation::Error>& error)
{
    const auto* dictionary = value.get<foundation::PropertyListDictionary>();
    const auto* url = dictionary ? dictionary->find("url") : nullptr;
    const auto* text = url ? url->get<std::string>() : nullptr;
    if (!text || !KSTIsValidURLString(*text)) {
        error = errorWith(std::string(net::URLErrorDomain), URLErrorCannotParseResponse);
        return std::nullopt;
    }
    std::optional<std::string> version;
    if (const auto* versionValue = dictionary->find("version_string"))
        if (const auto* versionText = versionValue->get<std::string>())
            version = *versionText;
    return BBXBetaUpdate(*text, std::move(version));
}

std::string BBXBetaUpdate::promptTitle()
{
    return foundation::MainBundle::localizedString("BlackboxDistributionPromptTitle", "New Build Available",
                                                   "Blackbox");
}

std::string BBXBetaUpdate::promptMessage()
{
    return replacingPlaceholder(foundation::MainBundle::localizedString("BlackboxDistributionPromptMessage",
                                                                        "A new version of %@ is available for testing.",
                                                                        "Blackbox"),
                                KSTBundleDisplayName().value_or(std::string()));
}

std::string BBXBetaUpdate::cancelLabel()
{
    return foundation::MainBundle::localizedString("BlackboxDistributionPromptCancelTitle", "Cancel", "Blackbox");
}

std::string BBXBetaUpdate::installLabel()
{
    return foundation::MainBundle::localizedString("BlackboxDistributionPromptInstallTitle", "Install", "Blackbox");
}

BBXBetaTokenSource BBXBetaController::platformBetaTokenSource()
{
    // Builds for testing carry no beta token on this platform.
    return [] { return std::optional<std::string>(); };
}

bool BBXBetaController::isBetaSupported()
{
    return !BBXApplicationIsExtension() && KSTAppInstallSource() == KSTInstallSource::signedForDistribution;
}

KSTCertificateArray BBXBetaController::pinnnedCertificates()
{
    return KSTPinnedCertificates();
}

BBXBetaController::BBXBetaController(std::weak_ptr<BBXBetaControllerDelegate> delegate, BBXBetaTokenSource tokenSource)
    : tokenSource_(std::move(tokenSource)), delegate_(std::move(delegate)),
      queue_(std::make_shared<foundation::SerialQueue>("com.mirrowick.blackbox.mac.beta"))
{}

std::shared_ptr<BBXBetaController> BBXBetaController::create(std::weak_ptr<BBXBetaControllerDelegate> delegate,
                                                             BBXBetaTokenSource tokenSource)
{
    std::shared_ptr<BBXBetaController> controller(new BBXBetaController(std::move(delegate), std::move(tokenSource)));
    controller->networkClient_ = KSTNetworkClient::create({}, nullptr, pinnnedCertificates());
    if (!controller->networkClient_)
        kitDebugLog("[Blackbox:Beta] Failed to configure networking");
    return controller;
}

BBXBetaController::~BBXBetaController()
{
    settingsObserver_.reset();
    if (checkSuspensionTimer_)
        checkSuspensionTimer_->cancel();
    // The last reference may go in work running on the beta queue, which must not end its own thread.
    if (queue_->isCurrent())
        foundation::WorkerPool::global().async([queue = std::move(queue_)] {});
}

bool BBXBetaController::start()
{
    if (!betaToken())
        return false;
    std::lock_guard lock(mutex_);
    settingsObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
        KSTSettingsAvailableNotification, nullptr, [weak = weak_from_this()](const foundation::Notification& note) {
            if (const auto self = weak.lock())
                self->keystoneSettingsDownloaded(note);
        });
    return true;
}

std::optional<std::string> BBXBetaController::betaToken()
{
    std::call_once(tokenRead_, [this] {
        if (tokenSource_)
            betaToken_ = tokenSource_();
    });
    return betaToken_;
}

void BBXBetaController::keystoneSettingsDownloaded(const foundation::Notification&)
{
    checkForUpdate();
}

void BBXBetaController::applicationWillEnterForeground()
{
    checkForUpdate();
}

void BBXBetaController::checkForUpdate()
{
    maybeGetUpdate([weak = weak_from_this()](std::optional<BBXBetaUpdate> update) {
        if (const auto self = weak.lock())
            self->didGetUpdate(update);
    });
}

void BBXBetaController::maybeGetUpdate(std::function<void(std::optional<BBXBetaUpdate>)> completion)
{
    queue_->async([weak = weak_from_this(), completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self || !self->shouldGetUpdates() || self->retrying_.load())
            return;
        kitDebugLog("[Blackbox:Beta] Loading beta update");
        self->loadUpdateWithCompletionBlock(
            [completion](std::optional<BBXBetaUpdate> update, std::optional<foundation::Error>) {
                if (completion)
                    completion(std::move(update));
            });
    });
}

void BBXBetaController::loadUpdateWithCompletionBlock(
    std::function<void(std::optional<BBXBetaUpdate>, std::optional<foundation::Error>)> completion)
{
    auto request = betaUpdateRequest();
    if (request && isKitDebugLogging())
        kitDebugLog("[Blackbox:Beta] Beta Update-Check url string: '" + request->url + "'");
    queue_->async([weak = weak_from_this(), request = std::move(request), completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self || self->retrying_.exchange(true))
            return;
        const auto finish = [weak, completion](std::optional<std::string> data,
                                               std::optional<foundation::Error> error) {
            if (const auto again = weak.lock())
                again->handledCompletedBetaRequestWithData(data, error, completion);
        };
        // Without an endpoint there is no request to make: it fails like one that could not start.
        if (!request || !self->networkClient_) {
            finish(std::nullopt,
                   errorWith(std::string(net::URLErrorDomain), net::URLErrorBadURL, "no beta update URL"));
            return;
        }
        self->networkClient_->startDataTaskWithRequest(
            *request,
            [finish](std::optional<std::string> data, std::optional<net::HTTPURLResponse>,
                     std::optional<foundation::Error> error) { finish(std::move(data), std::move(error)); },
            requestRetryLimit);
    });
}

void BBXBetaController::handledCompletedBetaRequestWithData(
    const std::optional<std::string>& data, const std::optional<foundation::Error>& error,
    std::function<void(std::optional<BBXBetaUpdate>, std::optional<foundation::Error>)> completion)
{
    if (error || !data || data->empty()) {
        // `retrying` stays set: no further check runs in this launch.
        kitDebugLog("[Blackbox:Beta] Failed to load update '"
                    + (error ? KSTErrorDescription(*error) : std::string("no data")) + "'");
        return;
    }
    queue_->async([weak = weak_from_this(), data = *data, completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self)
            return;
        kitDebugLog("[Blackbox:Beta] Beta update loaded");
        self->temporarilySuspendChecks();
        self->retrying_.store(false);
        std::optional<foundation::Error> parseError;
        auto update = self->updateWithData(data, parseError);
        if (completion)
            completion(std::move(update), std::move(parseError));
    });
}

std::optional<BBXBetaUpdate> BBXBetaController::updateWithData(const std::string& data,
                                                               std::optional<foundation::Error>& error)
{
    auto parsed = foundation::propertyListFromJSON(data);
    if (!parsed) {
        error = errorWith(CocoaErrorDomain, PropertyListReadCorruptError, parsed.error);
        kitDebugLog("[Blackbox:Beta] Unable to deserialize beta update data: " + KSTErrorDescription(*error));
        return std::nullopt;
    }
    auto update = BBXBetaUpdate::betaUpdateWithDictionary(*parsed.value, error);
    if (!update)
        kitDebugLog("[Blackbox:Beta] Unable to read beta update data: "
                    + (error ? KSTErrorDescription(*error) : std::string()));
    return update;
}

void BBXBetaController::didGetUpdate(const std::optional<BBXBetaUpdate>& update)
{
    if (!update) {
        kitDebugLog("[Blackbox:Beta] Beta update url is invalid");
        return;
    }
    foundation::MainQueue::async([weak = weak_from_this(), update = *update] {
        if (const auto self = weak.lock())
            self->showBetaAlertForUpdate(update);
    });
}

void BBXBetaController::showBetaAlertForUpdate(const BBXBetaUpdate& update)
{
    std::lock_guard lock(mutex_);
    activeUpdate_ = update;
}

std::optional<BBXBetaUpdate> BBXBetaController::activeUpdate() const
{
    std::lock_guard lock(mutex_);
    return activeUpdate_;
}

void BBXBetaController::temporarilySuspendChecks()
{
    foundation::MainQueue::async([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        const double duration = self->betaUpdateSuspendDurationSecs();
        std::lock_guard lock(self->mutex_);
        if (self->checkSuspensionTimer_)
            self->checkSuspensionTimer_->cancel();
        self->checksSuspended_.store(true);
        self->checkSuspensionTimer_ = foundation::scheduler()->after(foundation::SchedulerDuration(duration), [weak] {
            // The timer fires on the scheduler's thread; checks resume from the main queue.
            foundation::MainQueue::async([weak] {
                if (const auto again = weak.lock())
                    again->allowChecks();
            });
        });
    });
}

void BBXBetaController::allowChecks()
{
    std::lock_guard lock(mutex_);
    checksSuspended_.store(false);
    if (checkSuspensionTimer_)
        checkSuspensionTimer_->cancel();
    checkSuspensionTimer_.reset();
}

bool BBXBetaController::shouldGetUpdates()
{
    return isBetaSupported() && !checksSuspended_.load();
}

std::optional<net::URLRequest> BBXBetaController::betaUpdateRequest()
{
    const auto url = betaUpdateURL();
    if (!url)
        return std::nullopt;
    net::URLRequest request(*url);
    request.httpMethod = "GET";
    request.cachePolicy = net::URLRequestCachePolicy::reloadIgnoringLocalCacheData;
    request.timeoutInterval = requestTimeout;
    const std::string locale = KSTNetworkOperation::localeIdentifier();
    request.setValueForHTTPHeaderField("Blackbox Mac SDK/3.8.4", "User-Agent");
    request.setValueForHTTPHeaderField("application/json", "Accept");
    request.setValueForHTTPHeaderField("utf-8", "Accept-Charset");
    request.setValueForHTTPHeaderField(locale, "Accept-Language");
    request.setValueForHTTPHeaderField(locale, "Content-Language");
    request.setValueForHTTPHeaderField(BBXReportsController::developerToken, "X-Blackbox-Developer-Token");
    request.setValueForHTTPHeaderField("com.mirrowick.blackbox.mac", "X-Blackbox-API-Client-Id");
    request.setValueForHTTPHeaderField("3.8.4", "X-Blackbox-API-Client-Display-Version");
    request.setValueForHTTPHeaderField("121", "X-Blackbox-API-Client-Build-Version");
    request.setValueForHTTPHeaderField(APIKey().value_or(std::string()), "X-Blackbox-API-Key");
    request.setValueForHTTPHeaderField(betaToken().value_or(std::string()), "X-Blackbox-Beta-Token");
    return request;
}

std::optional<std::string> BBXBetaController::betaUpdateURL()
{
    const auto endpoint = betaEndpoint();
    if (!endpoint)
        return std::nullopt;
    auto builder = KSTURLBuilder::URLWithBase(*endpoint);
    builder.appendComponent("/spi/v2/platforms/");
    builder.appendComponent("mac");
    builder.appendComponent("/apps/");
    builder.appendComponent(appBundleIdentifier().value_or(std::string()));
    builder.appendComponent("/beta_update_check");
    const auto text = [](const std::optional<std::string>& value) -> std::optional<foundation::PropertyListValue> {
        if (!value)
            return std::nullopt;
        return foundation::PropertyListValue(*value);
    };
    builder.appendValueForQueryParam(text(appBuildVersion()), "build_version");
    builder.appendValueForQueryParam(text(appDisplayVersion()), "display_version");
    builder.appendValueForQueryParam(text(appInstanceIdentifier()), "instance");
    builder.appendValueForQueryParam(foundation::PropertyListValue(appInstallationSource()), "source");
    return builder.URL();
}

std::optional<std::string> BBXBetaController::betaEndpoint()
{
    const auto value = BBXSettings::valueForConfigurationKey("BetaEndpoint");
    const auto* text = value ? value->get<std::string>() : nullptr;
    if (!text || text->empty())
        return std::nullopt;
    return *text;
}

double BBXBetaController::betaUpdateSuspendDurationSecs()
{
    return settings().betaSuspendDuration();
}

BBXSettings BBXBetaController::settings()
{
    if (const auto delegate = delegate_.lock())
        return delegate->settingsForBetaController(*this);
    return BBXSettings(std::nullopt);
}

std::optional<std::string> BBXBetaController::APIKey()
{
    const auto delegate = delegate_.lock();
    return delegate ? delegate->APIKeyForBetaController(*this) : std::nullopt;
}

std::optional<std::string> BBXBetaController::appBundleIdentifier()
{
    return KSTEscapedBundleIdentifier();
}

std::optional<std::string> BBXBetaController::appBuildVersion()
{
    return KSTBundleVersion();
}

std::optional<std::string> BBXBetaController::appDisplayVersion()
{
    return KSTBundleShortVersionString();
}

std::optional<std::string> BBXBetaController::appInstanceIdentifier()
{
    return Keystone::sharedSDK().instanceIdentifier();
}

std::int64_t BBXBetaController::appInstallationSource()
{
    return static_cast<std::int64_t>(KSTAppInstallSource());
}

} // namespace kits
