// The default request of the kit platform's network operations.
#include "kits/platform/kst_network_operation.h"

#include "foundation/locale.h"
#include "kits/platform/keystone.h"

namespace kits {

std::shared_ptr<KSTNetworkOperation> KSTNetworkOperation::initWithAPIKey(const std::optional<std::string>& key)
{
    if (!key)
        return nullptr;
    return std::make_shared<KSTNetworkOperation>(*key);
}

KSTNetworkOperation::KSTNetworkOperation(std::string key, std::string className)
    : KSTAsyncOperation(std::move(className)), APIKey_(std::move(key))
{}

net::URLRequest KSTNetworkOperation::mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url,
                                                                                double timeout) const
{
    net::URLRequest request(url);
    request.cachePolicy = net::URLRequestCachePolicy::reloadIgnoringLocalCacheData;
    request.timeoutInterval = timeout;
    const std::string locale = localeIdentifier();
    request.setValueForHTTPHeaderField(userAgentString(), "User-Agent");
    request.setValueForHTTPHeaderField("utf-8", "Accept-Charset");
    request.setValueForHTTPHeaderField(locale, "Accept-Language");
    request.setValueForHTTPHeaderField(locale, "Content-Language");
    request.setValueForHTTPHeaderField(KSTDeveloperToken, "X-Blackbox-Developer-Token");
    request.setValueForHTTPHeaderField(KSTPlatformIdentifier, "X-Blackbox-API-Client-Id");
    request.setValueForHTTPHeaderField(KSTPlatformDisplayVersion, "X-Blackbox-API-Client-Display-Version");
    request.setValueForHTTPHeaderField(KSTPlatformBuildVersion, "X-Blackbox-API-Client-Build-Version");
    request.setValueForHTTPHeaderField(APIKey_, "X-Blackbox-API-Key");
    return request;
}

net::URLRequest
KSTNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const
{
    return mutableRequestWithDefaultHTTPHeadersForURL(url, KSTDefaultRequestTimeout);
}

std::string KSTNetworkOperation::userAgentString()
{
    return std::string(KSTPlatformIdentifier) + "/" + KSTPlatformDisplayVersion + " (" + KSTPlatformBuildVersion + ")";
}

std::string KSTNetworkOperation::localeIdentifier()
{
    return foundation::localeIdFromEnvironment(foundation::LocaleCategory::messages);
}

} // namespace kits
