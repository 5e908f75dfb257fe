// Registers the application with the kit API service: a multipart form describing it (identity,
// versions, SDK versions, kits, executable slices, icon), sent as a POST that creates its record
// (ten repetitions allowed) or a PUT that updates it (one). The delegate hears the outcome on the
// network client's queue; the response body is not read.
#pragma once

#include "foundation/property_list.h"
#include "kits/platform/kst_network_operation.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

class KSTApplicationIdentiferModel;
class KSTMultipartMimeStreamEncoder;
class KSTNetworkClient;
class KSTOnboardingOperation;

inline constexpr std::string_view KSTSDKOnboardingErrorDomain = "KSTSDKOnboardingErrorDomain";

class KSTOnboardingOperationDelegate {
public:
    virtual ~KSTOnboardingOperationDelegate() = default;
    virtual void onboardingOperationDidCompleteAppCreationWithError(KSTOnboardingOperation& operation,
                                                                    const std::optional<foundation::Error>& error) = 0;
    virtual void onboardingOperationDidCompleteAppUpdateWithError(KSTOnboardingOperation& operation,
                                                                  const std::optional<foundation::Error>& error) = 0;
};

class KSTOnboardingOperation final : public KSTNetworkOperation {
public:
    // Nothing without an API key. Without an endpoint the operation fails at once, without a request.
    static std::shared_ptr<KSTOnboardingOperation>
    initWithDelegate(std::weak_ptr<KSTOnboardingOperationDelegate> delegate, bool shouldCreate,
                     const std::optional<std::string>& APIKey,
                     foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier,
                     std::shared_ptr<const KSTApplicationIdentiferModel> appIdentifierModel,
                     std::optional<std::string> endpointString, std::weak_ptr<KSTNetworkClient> networkClient);

    KSTOnboardingOperation(std::string key, std::weak_ptr<KSTOnboardingOperationDelegate> delegate, bool shouldCreate,
                           foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier,
                           std::shared_ptr<const KSTApplicationIdentiferModel> appIdentifierModel,
                           std::optional<std::string> endpointString, std::weak_ptr<KSTNetworkClient> networkClient);

    bool shouldCreate() const { return shouldCreate_; }
    std::optional<foundation::Error> error() const;
    const std::shared_ptr<const KSTApplicationIdentiferModel>& appIdentifierModel() const { return model_; }
    const std::optional<std::string>& appEndpoint() const { return appEndpoint_; }
    const foundation::PropertyListDictionary& kitVersionsByKitBundleIdentifier() const { return kitVersions_; }

    // <endpoint>/spi/v1/platforms/mac/apps, and for an update /<escaped bundle identifier> after it.
    std::optional<std::string> appCreateURL() const;
    std::optional<std::string> appUpdateURL() const;
    // POST to the create URL or PUT to the update URL, with the default headers and 10 s.
    std::optional<net::URLRequest> onboardingRequestForAppCreate(bool create) const;

    void main() override;
    void beginAppConfigure();
    // Adds the form's fields in their order.
    void addFormFields(KSTMultipartMimeStreamEncoder& encoder) const;

    static foundation::Error errorForCode(std::int64_t code, foundation::PropertyListDictionary userInfo);

private:
    void complete(std::optional<foundation::Error> error);

    std::weak_ptr<KSTOnboardingOperationDelegate> delegate_;
    const bool shouldCreate_;
    const foundation::PropertyListDictionary kitVersions_;
    const std::shared_ptr<const KSTApplicationIdentiferModel> model_;
    const std::optional<std::string> appEndpoint_;
    std::weak_ptr<KSTNetworkClient> networkClient_;
    mutable std::mutex mutex_;
    std::optional<foundation::Error> error_;
};

} // namespace kits
