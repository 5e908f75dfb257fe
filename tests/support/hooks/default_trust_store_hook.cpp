// The test binaries' default trust store: the replacement file when one is given, else the system's.
#include "hooks/default_trust_store_hook.h"

#include "net/url_session.h"

#include <mutex>

namespace net {

namespace {

struct Replacement {
    std::mutex mutex;
    std::optional<std::string> file;
};

// Never destroyed: a session's thread may still read it while the process ends.
Replacement& replacement()
{
    static auto* shared = new Replacement;
    return *shared;
}

} // namespace

void testhooks::setDefaultTrustStoreFile(std::optional<std::string> file)
{
    auto& shared = replacement();
    std::lock_guard lock(shared.mutex);
    shared.file = std::move(file);
}

std::string defaultTrustStoreFile()
{
    auto& shared = replacement();
    std::lock_guard lock(shared.mutex);
    return shared.file.value_or("/etc/ssl/certs/ca-certificates.crt");
}

} // namespace net
