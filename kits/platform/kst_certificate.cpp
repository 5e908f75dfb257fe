// X.509 certificates through OpenSSL, and the carried roots parsed from their compiled-in DER.
#include "kits/platform/kst_certificate.h"

#include "kits/platform/kit_log.h"
#include "kits/platform/kst_pinned_root_data.h"

#include <openssl/x509.h>

#include <climits>

namespace kits {

KSTCertificate::KSTCertificate(x509_st* certificate, std::vector<std::uint8_t> der)
    : certificate_(certificate), der_(std::move(der))
{}

KSTCertificate::~KSTCertificate()
{
    X509_free(certificate_);
}

std::shared_ptr<const KSTCertificate> KSTCertificate::fromDER(const void* bytes, std::size_t length)
{
    if (!bytes || length == 0 || length > static_cast<std::size_t>(LONG_MAX))
        return nullptr;
    const auto* cursor = static_cast<const unsigned char*>(bytes);
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(length));
    if (!certificate)
        return nullptr;
    if (cursor != static_cast<const unsigned char*>(bytes) + length) { // more than one DER object
        X509_free(certificate);
        return nullptr;
    }
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    return std::shared_ptr<const KSTCertificate>(new KSTCertificate(certificate, {first, first + length}));
}

std::string KSTCertificate::subjectCommonName() const
{
    const X509_NAME* subject = X509_get_subject_name(certificate_);
    const int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (index < 0)
        return {};
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0)
        return {};
    std::string name(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return name;
}

KSTCertificateRef KSTCreateCertificate(const void* bytes, std::size_t length)
{
    return KSTCertificate::fromDER(bytes, length);
}

const KSTCertificateArray& KSTCarriedRootCertificates()
{
    // A function-local static is initialised once, behind the compiler's guard, and then only read;
    // never destroyed, as the kits' threads may still check a server while the process exits.
    static const auto* roots = new KSTCertificateArray([] {
        KSTCertificateArray parsed;
        for (const auto& root : detail::carriedRootData()) {
            if (auto certificate = KSTCreateCertificate(root.bytes, root.length))
                parsed.push_back(std::move(certificate));
            else
                kitLog("[Keystone] Carried root certificate " + std::string(root.name) + " cannot be read");
        }
        return parsed;
    }());
    return *roots;
}

} // namespace kits
