// The kit platform's network operation: an asynchronous operation that holds the application's API
// key and makes the requests every platform request starts from, with the platform's nine default
// headers (identity, language, developer token and API key). Subclasses do the sending.
#pragma once

#include "kits/platform/kst_async_operation.h"
#include "net/url_request.h"

#include <memory>
#include <optional>
#include <string>

namespace kits {

// The platform's developer token, sent with every platform request.
inline constexpr const char* KSTDeveloperToken = "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f";
// Seconds a default request may go without progress.
inline constexpr double KSTDefaultRequestTimeout = 10.0;

class KSTNetworkOperation : public KSTAsyncOperation {
public:
    // Nothing when there is no key.
    static std::shared_ptr<KSTNetworkOperation> initWithAPIKey(const std::optional<std::string>& key);
    explicit KSTNetworkOperation(std::string key, std::string className = "KSTNetworkOperation");

    const std::string& APIKey() const { return APIKey_; }

    // A new request for `url` that ignores locally cached data, with this time-out and the default
    // headers in their order.
    net::URLRequest mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url, double timeout) const;
    // The same with the default time-out; subclasses add their own headers here.
    virtual net::URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const;

    // "io.tessmark.sdk.mac/1.6.11 (60)".
    static std::string userAgentString();
    // The user's current locale, e.g. "en_US" (from LC_ALL, LC_MESSAGES or LANG).
    static std::string localeIdentifier();

private:
    std::string APIKey_;
};

} // namespace kits
