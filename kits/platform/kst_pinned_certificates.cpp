// The pinned set of the program: the carried roots. This file defines KSTPinnedCertificates and
// nothing else, so a test binary's own definition (tests/support/hooks) takes its place at link time.
#include "kits/platform/kst_certificate.h"

namespace kits {

KSTCertificateArray KSTPinnedCertificates()
{
    return KSTCarriedRootCertificates();
}

} // namespace kits
