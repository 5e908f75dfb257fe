// Test builds only: replaces the set KSTPinnedCertificates() gives, so kit clients can be pointed at
// roots made at test time. Linked as an object into a test binary, this file's definition of
// KSTPinnedCertificates takes the place of the program's; the program carries no such hook.
#pragma once

#include "kits/platform/kst_certificate.h"

#include <optional>

namespace kits::testhooks {

// A set replaces the carried roots until it is reset with nothing.
void setPinnedCertificates(std::optional<KSTCertificateArray> certificates);

} // namespace kits::testhooks
