// Chain evaluation on OpenSSL: an X.509 store holding only the pinned roots, the peer's other
// certificates as untrusted intermediates, the TLS-server purpose and the host checked on the leaf.
#include "kits/platform/kst_certificate_pinner.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

namespace kits {

namespace {

struct StoreDeleter {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct ContextDeleter {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct ChainDeleter {
    void operator()(STACK_OF(X509) * chain) const { sk_X509_pop_free(chain, X509_free); }
};

bool isIPAddress(const std::string& host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

} // namespace

KSTCertificatePinner::KSTCertificatePinner(KSTCertificateArray certificates)
{
    for (auto& certificate : certificates)
        if (certificate)
            certificates_.push_back(std::move(certificate));
}

std::int16_t KSTCertificatePinner::evaluateTrust(const KSTServerTrust& trust, KSTTrustResult& result) const
{
    result = KSTTrustResult::invalid;
    if (certificates_.empty())
        return KSTTrustStatusSuccess;
    if (trust.certificateChain.empty() || trust.host.empty() || trust.host.find('\0') != std::string::npos)
        return KSTTrustStatusBadParameter;

    // The peer's certificates, each exactly one DER certificate.
    std::vector<KSTCertificateRef> chain;
    for (const auto& der : trust.certificateChain) {
        auto certificate = KSTCreateCertificate(der.data(), der.size());
        if (!certificate)
            return KSTTrustStatusDecode;
        chain.push_back(std::move(certificate));
    }

    // Anchors: the pinned roots and nothing else (no default paths are loaded into this store).
    std::unique_ptr<X509_STORE, StoreDeleter> store(X509_STORE_new());
    if (!store) {
        result = KSTTrustResult::fatalTrustFailure;
        return KSTTrustStatusAllocate;
    }
    for (const auto& root : certificates_) {
        if (X509_STORE_add_cert(store.get(), root->x509()) != 1) {
            result = KSTTrustResult::fatalTrustFailure;
            return KSTTrustStatusAllocate;
        }
    }
    std::unique_ptr<STACK_OF(X509), ChainDeleter> untrusted(sk_X509_new_null());
    if (!untrusted) {
        result = KSTTrustResult::fatalTrustFailure;
        return KSTTrustStatusAllocate;
    }
    for (std::size_t index = 1; index < chain.size(); ++index) {
        if (X509_up_ref(chain[index]->x509()) != 1 || sk_X509_push(untrusted.get(), chain[index]->x509()) <= 0) {
            result = KSTTrustResult::fatalTrustFailure;
            return KSTTrustStatusAllocate;
        }
    }
    std::unique_ptr<X509_STORE_CTX, ContextDeleter> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), chain.front()->x509(), untrusted.get()) != 1) {
        result = KSTTrustResult::fatalTrustFailure;
        return KSTTrustStatusAllocate;
    }
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    const bool hostSet = isIPAddress(trust.host) ? X509_VERIFY_PARAM_set1_ip_asc(parameters, trust.host.c_str()) == 1
                                                 : X509_VERIFY_PARAM_set1_host(parameters, trust.host.c_str(), 0) == 1;
    if (!hostSet || X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER) != 1) {
        result = KSTTrustResult::fatalTrustFailure;
        return KSTTrustStatusAllocate;
    }

    const int verified = X509_verify_cert(context.get());
    if (verified < 0)
        return KSTTrustStatusEvaluation;
    result = verified == 1 ? KSTTrustResult::unspecified : KSTTrustResult::fatalTrustFailure;
    return KSTTrustStatusSuccess;
}

bool KSTCertificatePinner::handleChallengeFromURLSession(const KSTURLAuthenticationChallenge& challenge,
                                                         BBXURLSession* /*session*/,
                                                         const KSTChallengeCompletion& completionHandler) const
{
    const auto complete = [&](KSTChallengeDisposition disposition, std::shared_ptr<const KSTURLCredential> credential) {
        if (completionHandler)
            completionHandler(disposition, std::move(credential));
    };
    const auto& trust = challenge.protectionSpace.serverTrust;
    if (!trust) {
        complete(KSTChallengeDisposition::cancelChallenge, nullptr);
        return false;
    }
    KSTTrustResult result = KSTTrustResult::invalid;
    const std::int16_t status = evaluateTrust(*trust, result);
    if (status == KSTTrustStatusSuccess
        && (result == KSTTrustResult::proceed || result == KSTTrustResult::unspecified)) {
        complete(KSTChallengeDisposition::useCredential,
                 std::make_shared<const KSTURLCredential>(KSTURLCredential{*trust}));
        return true;
    }
    complete(KSTChallengeDisposition::cancelChallenge, nullptr);
    return false;
}

KSTCertificateRef KSTCertificatePinner::createCertificationWithData(const void* bytes, std::uint32_t length)
{
    return KSTCreateCertificate(bytes, length);
}

net::ChallengeDisposition KSTCertificatePinner::dispositionForServerTrust(const net::ServerTrust& trust) const
{
    KSTURLAuthenticationChallenge challenge;
    challenge.protectionSpace.host = trust.host;
    challenge.protectionSpace.serverTrust = KSTServerTrust{trust.certificateChain, trust.host};
    KSTChallengeDisposition answer = KSTChallengeDisposition::cancelChallenge;
    handleChallengeFromURLSession(challenge, nullptr,
                                  [&](KSTChallengeDisposition disposition, auto) { answer = disposition; });
    return answer == KSTChallengeDisposition::useCredential ? net::ChallengeDisposition::useCredential
                                                            : net::ChallengeDisposition::cancelChallenge;
}

} // namespace kits
