// The test binaries' KSTPinnedCertificates: the replacement set when one is given, else the carried roots.
#include "hooks/pinned_certificates_hook.h"

#include <mutex>

namespace kits {

namespace {

struct Replacement {
    std::mutex mutex;
    std::optional<KSTCertificateArray> certificates;
};

// Never destroyed: a session's thread may still read it while the process ends.
Replacement& replacement()
{
    static auto* shared = new Replacement;
    return *shared;
}

} // namespace

void testhooks::setPinnedCertificates(std::optional<KSTCertificateArray> certificates)
{
    auto& shared = replacement();
    std::lock_guard lock(shared.mutex);
    shared.certificates = std::move(certificates);
}

KSTCertificateArray KSTPinnedCertificates()
{
    auto& shared = replacement();
    std::lock_guard lock(shared.mutex);
    return shared.certificates ? *shared.certificates : KSTCarriedRootCertificates();
}

} // namespace kits
