// Certificates for server-trust checks: an immutable X.509 certificate made from DER bytes, and the
// roots the kits pin. The carried roots are compiled in from pinned_roots/*.der in the table's order
// and parsed once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct x509_st; // OpenSSL's X509

namespace kits {

class KSTCertificate {
public:
    // Nothing when the bytes are not exactly one DER certificate (trailing bytes included).
    static std::shared_ptr<const KSTCertificate> fromDER(const void* bytes, std::size_t length);
    ~KSTCertificate();
    KSTCertificate(const KSTCertificate&) = delete;
    KSTCertificate& operator=(const KSTCertificate&) = delete;

    const std::vector<std::uint8_t>& derData() const { return der_; }
    // The subject's common name, empty when it has none.
    std::string subjectCommonName() const;
    // OpenSSL's view; the certificate stays owned by this object.
    x509_st* x509() const { return certificate_; }

private:
    KSTCertificate(x509_st* certificate, std::vector<std::uint8_t> der);
    x509_st* certificate_;
    std::vector<std::uint8_t> der_;
};

using KSTCertificateRef = std::shared_ptr<const KSTCertificate>;
using KSTCertificateArray = std::vector<KSTCertificateRef>;

// A certificate from DER bytes; nil (an empty pointer) when the bytes are no certificate.
KSTCertificateRef KSTCreateCertificate(const void* bytes, std::size_t length);

// The roots the program carries, in the table's order, parsed on first use and kept.
const KSTCertificateArray& KSTCarriedRootCertificates();

// The roots every kit client pins: the carried roots. Test binaries may link a replacement of this one
// function (tests/support/hooks); the program has no way to change the set.
KSTCertificateArray KSTPinnedCertificates();

} // namespace kits
