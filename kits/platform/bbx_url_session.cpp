// Session factories of the kits over platform/net.
#include "kits/platform/bbx_url_session.h"

#include "foundation/main_bundle.h"
#include "foundation/operation_queue.h"
#include "kits/platform/kit_log.h"
#include "net/url_error.h"

#include <algorithm>
#include <cctype>

namespace kits {

net::URLSessionConfiguration BBXURLSessionConfiguration::defaultSessionConfiguration()
{
    return withKitRules({});
}

net::URLSessionConfiguration BBXURLSessionConfiguration::ephemeralSessionConfiguration()
{
    return withKitRules({});
}

net::URLSessionConfiguration BBXURLSessionConfiguration::withKitRules(net::URLSessionConfiguration configuration)
{
    configuration.httpsOnly = true;
    configuration.insecureURLRefused = [](const std::string& url) {
        kitLog("[Keystone] Refused to connect to \"" + url + "\": the kits send requests over https only");
    };
    configuration.maximumRedirects = std::clamp(configuration.maximumRedirects, 0L, BBXURLSessionMaximumRedirects);
    if (configuration.maximumResponseBytes == 0
        || configuration.maximumResponseBytes > BBXURLSessionMaximumResponseBytes)
        configuration.maximumResponseBytes = BBXURLSessionMaximumResponseBytes;
    if (configuration.downloadDirectory.empty())
        configuration.downloadDirectory = downloadDirectory();
    return configuration;
}

std::filesystem::path BBXURLSessionConfiguration::downloadDirectory()
{
    return foundation::MainBundle::cachesDirectory() / "io.tessmark.sdk.mac.data" / "downloads";
}

std::optional<net::URLSessionConfiguration>
BBXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(std::string_view)
{
    return std::nullopt;
}

bool BBXURLSession::NSURLSessionShouldBeUsed()
{
    return true;
}

std::shared_ptr<net::URLSession>
BBXURLSession::sessionWithConfiguration(const std::optional<net::URLSessionConfiguration>& configuration,
                                        std::shared_ptr<net::URLSessionDelegate> delegate,
                                        std::shared_ptr<foundation::OperationQueue> delegateQueue)
{
    if (!configuration)
        return nullptr;
    if (delegate && !delegateQueue)
        delegateQueue = newDefaultDelegateQueue();
    return net::URLSession::sessionWithConfiguration(BBXURLSessionConfiguration::withKitRules(*configuration),
                                                     std::move(delegate), std::move(delegateQueue));
}

bool BBXURLSession::isSecureURL(std::string_view url)
{
    constexpr std::string_view scheme = "https://";
    return url.size() >= scheme.size() && std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

void BBXURLSession::removeDownloadFiles(bool includingRunning)
{
    net::removeDownloadFiles(BBXURLSessionConfiguration::downloadDirectory(), includingRunning);
}

std::shared_ptr<foundation::OperationQueue> BBXURLSession::newDefaultDelegateQueue()
{
    return std::make_shared<foundation::OperationQueue>(1);
}

std::optional<foundation::Error> BBXURLSession::downloadTaskError(const std::optional<foundation::Error>& error)
{
    if (error && error->domain == net::URLErrorDomain && error->code == net::URLErrorCannotWriteToFile) {
        foundation::Error failed;
        failed.domain = std::string(BBXURLSessionDownloadTaskErrorDomain);
        failed.code = -1;
        failed.localizedDescription = error->localizedDescription;
        return failed;
    }
    return error;
}

} // namespace kits
