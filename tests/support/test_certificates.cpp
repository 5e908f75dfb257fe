// Test certificates through OpenSSL's API; every failure throws, since a test cannot go on without them.
#include "test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace testsupport {

namespace {

void require(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("test certificates: ") + what);
}

std::shared_ptr<EVP_PKEY> makeKey()
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    require(key, "EVP_EC_gen");
    return {key, EVP_PKEY_free};
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    require(extension, "X509V3_EXT_conf_nid");
    require(X509_add_ext(certificate, extension, -1) == 1, "X509_add_ext");
    X509_EXTENSION_free(extension);
}

enum class Kind { root, intermediate, leaf };

struct Validity {
    long fromSeconds; // relative to now
    long toSeconds;
};
constexpr long day = 24 * 3600;
constexpr Validity current{-day, 365 * day};

void writeFile(const std::filesystem::path& path, const std::function<int(BIO*)>& write)
{
    BIO* bio = BIO_new_file(path.c_str(), "w");
    require(bio, "BIO_new_file");
    const int written = write(bio);
    BIO_free(bio);
    require(written == 1, "PEM write");
}

TestIdentity makeIdentity(const std::filesystem::path& folder, const std::string& name, Kind kind,
                          const TestIdentity* issuer, const char* subjectAltName, Validity validity = current)
{
    static std::atomic<long> serial{1};
    TestIdentity identity;
    identity.name = name;
    identity.key = makeKey();
    std::shared_ptr<X509> certificate(X509_new(), X509_free);
    require(certificate != nullptr, "X509_new");
    X509* raw = certificate.get();
    require(X509_set_version(raw, 2) == 1, "version");
    require(ASN1_INTEGER_set(X509_get_serialNumber(raw), serial++) == 1, "serial");
    require(X509_gmtime_adj(X509_getm_notBefore(raw), validity.fromSeconds) != nullptr, "notBefore");
    require(X509_gmtime_adj(X509_getm_notAfter(raw), validity.toSeconds) != nullptr, "notAfter");
    X509_NAME* subject = X509_get_subject_name(raw);
    require(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>("Horavine Tests"), -1, -1, 0)
                == 1,
            "O");
    require(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0)
                == 1,
            "CN");
    X509* issuerCertificate = issuer ? issuer->certificate.get() : raw;
    EVP_PKEY* signingKey = issuer ? issuer->key.get() : identity.key.get();
    require(X509_set_issuer_name(raw, X509_get_subject_name(issuerCertificate)) == 1, "issuer");
    require(X509_set_pubkey(raw, identity.key.get()) == 1, "pubkey");
    addExtension(raw, issuerCertificate, NID_subject_key_identifier, "hash");
    if (issuer)
        addExtension(raw, issuerCertificate, NID_authority_key_identifier, "keyid:always");
    switch (kind) {
    case Kind::root:
        addExtension(raw, raw, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(raw, raw, NID_key_usage, "critical,keyCertSign,cRLSign");
        break;
    case Kind::intermediate:
        addExtension(raw, issuerCertificate, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
        addExtension(raw, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
        break;
    case Kind::leaf:
        addExtension(raw, issuerCertificate, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(raw, issuerCertificate, NID_key_usage, "critical,digitalSignature");
        addExtension(raw, issuerCertificate, NID_ext_key_usage, "serverAuth");
        break;
    }
    if (subjectAltName)
        addExtension(raw, issuerCertificate, NID_subject_alt_name, subjectAltName);
    require(X509_sign(raw, signingKey, EVP_sha256()) > 0, "X509_sign");

    unsigned char* der = nullptr;
    const int length = i2d_X509(raw, &der);
    require(length > 0, "i2d_X509");
    identity.der.assign(der, der + length);
    OPENSSL_free(der);
    identity.certificate = certificate;
    identity.certificatePEM = folder / (name + ".pem");
    identity.keyPEM = folder / (name + ".key.pem");
    writeFile(identity.certificatePEM, [&](BIO* bio) { return PEM_write_bio_X509(bio, raw); });
    writeFile(identity.keyPEM, [&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, identity.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return identity;
}

constexpr const char* loopbackNames = "IP:127.0.0.1,DNS:localhost";

} // namespace

TestCertificates::TestCertificates(const std::filesystem::path& folder)
{
    rootA = makeIdentity(folder, "root-a", Kind::root, nullptr, nullptr);
    rootB = makeIdentity(folder, "root-b", Kind::root, nullptr, nullptr);
    leafA = makeIdentity(folder, "leaf-a", Kind::leaf, &rootA, loopbackNames);
    leafB = makeIdentity(folder, "leaf-b", Kind::leaf, &rootB, loopbackNames);
    intermediateA = makeIdentity(folder, "intermediate-a", Kind::intermediate, &rootA, nullptr);
    leafUnderIntermediate = makeIdentity(folder, "leaf-under-intermediate", Kind::leaf, &intermediateA, loopbackNames);
    expiredLeafA = makeIdentity(folder, "expired-leaf-a", Kind::leaf, &rootA, loopbackNames, {-10 * day, -day});
    selfSignedLeaf = makeIdentity(folder, "self-signed-leaf", Kind::leaf, nullptr, loopbackNames);
    otherHostLeafA = makeIdentity(folder, "other-host-leaf-a", Kind::leaf, &rootA, "DNS:other.test");
    expiredRoot = makeIdentity(folder, "expired-root", Kind::root, nullptr, nullptr, {-400 * day, -day});
    leafUnderExpiredRoot =
        makeIdentity(folder, "leaf-under-expired-root", Kind::leaf, &expiredRoot, loopbackNames, {-2 * day, 30 * day});
}

std::vector<std::vector<std::uint8_t>> chainOf(const TestIdentity& leaf,
                                               const std::vector<const TestIdentity*>& intermediates)
{
    std::vector<std::vector<std::uint8_t>> chain{leaf.der};
    for (const auto* intermediate : intermediates)
        chain.push_back(intermediate->der);
    return chain;
}

} // namespace testsupport
