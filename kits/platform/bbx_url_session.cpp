// Session factories of the kits over platform/net.
#include "kits/platform/bbx_url_session.h"

#include "foundation/operation_queue.h"
#include "net/url_error.h"

namespace kits {

net::URLSessionConfiguration BBXURLSessionConfiguration::defaultSessionConfiguration()
{
    return {};
}

net::URLSessionConfiguration BBXURLSessionConfiguration::ephemeralSessionConfiguration()
{
    return {};
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
    return net::URLSession::sessionWithConfiguration(*configuration, std::move(delegate), std::move(delegateQueue));
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
