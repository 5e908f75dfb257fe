// The onboarding form and its request.
#include "kits/platform/kst_onboarding_operation.h"

#include "kits/platform/bundle_functions.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_application_identifier_model.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"
#include "kits/platform/kst_network_client.h"
#include "kits/platform/kst_network_response_handler.h"
#include "kits/platform/kst_url_builder.h"

#include <cmath>

namespace kits {

namespace {

constexpr const char* appPlatform = "mac";

std::optional<foundation::PropertyListValue> textValue(const std::optional<std::string>& text)
{
    return text ? std::optional<foundation::PropertyListValue>(*text) : std::nullopt;
}

// A size in points as "%lu" of its unsigned conversion: cut towards zero, never below 0.
std::string wholePoints(double points)
{
    if (!(points > 0))
        return "0";
    if (points >= 1.8e19)
        return "18446744073709551615";
    return std::to_string(static_cast<unsigned long>(points));
}

} // namespace

std::shared_ptr<KSTOnboardingOperation> KSTOnboardingOperation::initWithDelegate(
    std::weak_ptr<KSTOnboardingOperationDelegate> delegate, bool shouldCreate, const std::optional<std::string>& APIKey,
    foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier,
    std::shared_ptr<const KSTApplicationIdentiferModel> appIdentifierModel, std::optional<std::string> endpointString,
    std::weak_ptr<KSTNetworkClient> networkClient)
{
    if (!APIKey)
        return nullptr;
    return std::make_shared<KSTOnboardingOperation>(
        *APIKey, std::move(delegate), shouldCreate, std::move(kitVersionsByKitBundleIdentifier),
        std::move(appIdentifierModel), std::move(endpointString), std::move(networkClient));
}

KSTOnboardingOperation::KSTOnboardingOperation(std::string key, std::weak_ptr<KSTOnboardingOperationDelegate> delegate,
                                               bool shouldCreate,
                                               foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier,
                                               std::shared_ptr<const KSTApplicationIdentiferModel> appIdentifierModel,
                                               std::optional<std::string> endpointString,
                                               std::weak_ptr<KSTNetworkClient> networkClient)
    : KSTNetworkOperation(std::move(key), "KSTOnboardingOperation"), delegate_(std::move(delegate)),
      shouldCreate_(shouldCreate), kitVersions_(std::move(kitVersionsByKitBundleIdentifier)),
      model_(std::move(appIdentifierModel)), appEndpoint_(std::move(endpointString)),
      networkClient_(std::move(networkClient))
{}

std::optional<foundation::Error> KSTOnboardingOperation::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

foundation::Error KSTOnboardingOperation::errorForCode(std::int64_t code, foundation::PropertyListDictionary userInfo)
{
    foundation::Error error{std::string(KSTSDKOnboardingErrorDomain), code, "", std::move(userInfo), "", {}};
    if (const std::string* description = error.userInfo.get<std::string>("NSLocalizedDescription"))
        error.localizedDescription = *description;
    return error;
}

std::optional<std::string> KSTOnboardingOperation::appCreateURL() const
{
    if (!appEndpoint_ || appEndpoint_->empty())
        return std::nullopt;
    auto builder = KSTURLBuilder::URLWithBase(*appEndpoint_);
    builder.appendComponent("/spi/v1/platforms/");
    builder.escapeAndAppendComponent(appPlatform);
    builder.appendComponent("/apps");
    return builder.URL();
}

std::optional<std::string> KSTOnboardingOperation::appUpdateURL() const
{
    const auto identifier = KSTEscapedBundleIdentifier();
    if (!appEndpoint_ || appEndpoint_->empty() || !identifier)
        return std::nullopt;
    auto builder = KSTURLBuilder::URLWithBase(*appEndpoint_);
    builder.appendComponent("/spi/v1/platforms/");
    builder.escapeAndAppendComponent(appPlatform);
    builder.appendComponent("/apps/");
    builder.escapeAndAppendComponent(*identifier);
    return builder.URL();
}

std::optional<net::URLRequest> KSTOnboardingOperation::onboardingRequestForAppCreate(bool create) const
{
    const auto url = create ? appCreateURL() : appUpdateURL();
    if (!url)
        return std::nullopt;
    net::URLRequest request = mutableRequestWithDefaultHTTPHeadersForURL(*url, KSTDefaultRequestTimeout);
    request.httpMethod = create ? "POST" : "PUT";
    return request;
}

void KSTOnboardingOperation::addFormFields(KSTMultipartMimeStreamEncoder& encoder) const
{
    encoder.addValue(textValue(KSTEscapedBundleIdentifier()), "app[identifier]");
    encoder.addValue(textValue(model_ ? std::optional<std::string>(model_->instanceIdentifier()) : std::nullopt),
                     "app[instance_identifier]");
    encoder.addValue(textValue(KSTBundleDisplayName()), "app[name]");
    encoder.addValue(textValue(KSTBundleVersion()), "app[build_version]");
    encoder.addValue(textValue(KSTBundleShortVersionString()), "app[display_version]");
    encoder.addValue(foundation::PropertyListValue(static_cast<std::int64_t>(KSTAppInstallSource())), "app[source]");
    encoder.addValue(textValue(model_ ? std::optional<std::string>(model_->minimumSDKString()) : std::nullopt),
                     "app[minimum_sdk_version]");
    encoder.addValue(textValue(model_ ? std::optional<std::string>(model_->builtSDKString()) : std::nullopt),
                     "app[built_sdk_version]");
    for (const auto& [identifier, version] : kitVersions_.entries())
        encoder.addValue(version, "app[build][libraries][" + identifier + "]");
    if (model_) {
        for (const auto& [architecture, uuid] : model_->architectureUUIDMap()) {
            encoder.addValue(foundation::PropertyListValue(architecture), "app[slices][][arch]");
            encoder.addValue(foundation::PropertyListValue(uuid), "app[slices][][uuid]");
        }
    }
    const auto& icon = model_ ? model_->icon() : std::optional<KSTIcon>();
    if (icon && !icon->data().empty() && !icon->dataHash().empty()) {
        encoder.addValue(foundation::PropertyListValue(icon->dataHash()), "app[icon][hash]");
        encoder.addValue(foundation::PropertyListValue(icon->prerendered() ? "true" : "false"),
                         "app[icon][prerendered]");
        encoder.addValue(foundation::PropertyListValue(wholePoints(icon->size().width)), "app[icon][width]");
        encoder.addValue(foundation::PropertyListValue(wholePoints(icon->size().height)), "app[icon][height]");
        encoder.addFileData(icon->data(), "icon.png", std::string("image/png"), "app[icon][data]");
    }
}

void KSTOnboardingOperation::main()
{
    beginAppConfigure();
}

void KSTOnboardingOperation::beginAppConfigure()
{
    auto stream = std::make_shared<KSTMemoryOutputStream>();
    auto encoder =
        KSTMultipartMimeStreamEncoder::encoderWithStream(stream, KSTMultipartMimeStreamEncoder::generateBoundary());
    if (!encoder) {
        kitLog("[Keystone] configure failed during onboarding");
        finishWithError(errorForCode(0, {{"NSLocalizedDescription", "Multipart mime encoder was nil"}}));
        return;
    }
    encoder->encode([this](KSTMultipartMimeStreamEncoder& form) { addFormFields(form); });

    auto request = onboardingRequestForAppCreate(shouldCreate_);
    const auto client = networkClient_.lock();
    if (!request || !client) {
        auto error = KSTNetworkResponseHandler::errorForCode(KSTNetworkErrorNoTask, {});
        if (request)
            error.localizedDescription = "the network client has ended";
        else if (!appEndpoint_ || appEndpoint_->empty())
            error.localizedDescription = "no \"ConfigureEndpoint\" is configured";
        else
            error.localizedDescription = "no onboarding URL could be made from \"ConfigureEndpoint\"";
        complete(std::move(error));
        return;
    }
    request->setValueForHTTPHeaderField(encoder->contentTypeHTTPHeaderValue(), "Content-Type");
    request->setValueForHTTPHeaderField(encoder->contentLengthHTTPHeaderValue(), "Content-Length");
    request->httpBody.assign(stream->data().begin(), stream->data().end());

    auto self = std::static_pointer_cast<KSTOnboardingOperation>(shared_from_this());
    client->startDataTaskWithRequest(
        *request,
        [self](std::optional<std::string>, std::optional<net::HTTPURLResponse>,
               std::optional<foundation::Error> error) { self->complete(std::move(error)); },
        shouldCreate_ ? 10 : 1);
}

void KSTOnboardingOperation::complete(std::optional<foundation::Error> error)
{
    {
        std::lock_guard lock(mutex_);
        error_ = error;
    }
    if (const auto delegate = delegate_.lock()) {
        if (shouldCreate_)
            delegate->onboardingOperationDidCompleteAppCreationWithError(*this, error);
        else
            delegate->onboardingOperationDidCompleteAppUpdateWithError(*this, error);
    }
    finishWithError(std::move(error));
}

} // namespace kits
