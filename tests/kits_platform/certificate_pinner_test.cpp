// Certificate pinning with roots made at test time: which chains a pinner with {A} accepts, how it
// answers challenges, that the system's roots play no part, the carried roots, and seeded mutations
// of the chains' DER against OpenSSL's own verification.
#include "kits/platform/kst_certificate_pinner.h"

#include "hex.h"
#include "hooks/pinned_certificates_hook.h"
#include "mutator.h"
#include "scoped_environment.h"
#include "suite_certificates.h"
#include "test_certificates.h"

#include <gtest/gtest.h>

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {

using kits::KSTCertificatePinner;
using kits::KSTChallengeDisposition;
using kits::KSTServerTrust;
using kits::KSTTrustResult;
using testsupport::chainOf;

kits::KSTCertificateRef certificateOf(const testsupport::TestIdentity& identity)
{
    return kits::KSTCreateCertificate(identity.der.data(), identity.der.size());
}

struct ChallengeAnswer {
    bool returned = false;
    int calls = 0;
    KSTChallengeDisposition disposition = KSTChallengeDisposition::performDefaultHandling;
    std::shared_ptr<const kits::KSTURLCredential> credential;
};

ChallengeAnswer answer(const KSTCertificatePinner& pinner, std::optional<KSTServerTrust> trust)
{
    ChallengeAnswer result;
    kits::KSTURLAuthenticationChallenge challenge;
    challenge.protectionSpace.host = "127.0.0.1";
    challenge.protectionSpace.serverTrust = std::move(trust);
    result.returned = pinner.handleChallengeFromURLSession(
        challenge, nullptr,
        [&](KSTChallengeDisposition disposition, std::shared_ptr<const kits::KSTURLCredential> credential) {
            ++result.calls;
            result.disposition = disposition;
            result.credential = std::move(credential);
        });
    return result;
}

class CertificatePinnerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("horavine-pinning"); }
    static void TearDownTestSuite() { certificates.drop(); }
    static KSTServerTrust trust(std::vector<std::vector<std::uint8_t>> chain, std::string host = "127.0.0.1")
    {
        return {std::move(chain), std::move(host)};
    }
    KSTCertificatePinner pinnerOfA() const { return KSTCertificatePinner({certificateOf(certificates->rootA)}); }

    static inline testsupport::SuiteCertificates certificates;
};

} // namespace

TEST_F(CertificatePinnerTest, ChainsToThePinnedRootAreAcceptedWithACredential)
{
    const auto pinner = pinnerOfA();
    const auto& c = *certificates;
    for (const auto& [chain, host] : std::vector<std::pair<std::vector<std::vector<std::uint8_t>>, std::string>>{
             {chainOf(c.leafA), "127.0.0.1"},
             {chainOf(c.leafA), "localhost"},
             {chainOf(c.leafA, {&c.rootA}), "127.0.0.1"},
             {chainOf(c.leafUnderIntermediate, {&c.intermediateA}), "127.0.0.1"},
         }) {
        KSTTrustResult result = KSTTrustResult::invalid;
        EXPECT_EQ(pinner.evaluateTrust(trust(chain, host), result), 0);
        EXPECT_EQ(result, KSTTrustResult::unspecified);
        const auto answered = answer(pinner, trust(chain, host));
        EXPECT_TRUE(answered.returned);
        EXPECT_EQ(answered.calls, 1);
        EXPECT_EQ(answered.disposition, KSTChallengeDisposition::useCredential);
        ASSERT_TRUE(answered.credential);
        EXPECT_EQ(answered.credential->trust.certificateChain, chain);
    }
}

TEST_F(CertificatePinnerTest, EveryUnpinnedChainIsRefused)
{
    // B in the system's trust store, as the test sets it up: OpenSSL's default verification now
    // accepts B's leaf, the pinner must not.
    testsupport::ScopedEnvironment systemRoots({{"SSL_CERT_FILE", certificates->rootB.certificatePEM.string()}});
    {
        X509_STORE* system = X509_STORE_new();
        ASSERT_EQ(X509_STORE_set_default_paths(system), 1);
        X509_STORE_CTX* context = X509_STORE_CTX_new();
        ASSERT_EQ(X509_STORE_CTX_init(context, system, certificates->leafB.certificate.get(), nullptr), 1);
        EXPECT_EQ(X509_verify_cert(context), 1) << "the test's system store does not hold B";
        X509_STORE_CTX_free(context);
        X509_STORE_free(system);
    }
    const auto pinner = pinnerOfA();
    const auto& c = *certificates;
    struct Case {
        const char* what;
        KSTServerTrust trust;
    };
    const std::vector<Case> cases{
        {"chain to B", trust(chainOf(c.leafB))},
        {"chain to B with B sent along", trust(chainOf(c.leafB, {&c.rootB}))},
        {"self-signed leaf", trust(chainOf(c.selfSignedLeaf))},
        {"expired leaf under A", trust(chainOf(c.expiredLeafA))},
        {"intermediate's leaf without its intermediate", trust(chainOf(c.leafUnderIntermediate))},
        {"leaf for another host", trust(chainOf(c.otherHostLeafA), "127.0.0.1")},
        {"leaf under A asked for another host", trust(chainOf(c.leafA), "example.test")},
        {"the intermediate itself as the leaf", trust(chainOf(c.intermediateA), "127.0.0.1")},
    };
    for (const auto& [what, serverTrust] : cases) {
        KSTTrustResult result = KSTTrustResult::unspecified;
        EXPECT_EQ(pinner.evaluateTrust(serverTrust, result), 0) << what;
        EXPECT_EQ(result, KSTTrustResult::fatalTrustFailure) << what;
        const auto answered = answer(pinner, serverTrust);
        EXPECT_FALSE(answered.returned) << what;
        EXPECT_EQ(answered.calls, 1) << what;
        EXPECT_EQ(answered.disposition, KSTChallengeDisposition::cancelChallenge) << what;
        EXPECT_FALSE(answered.credential) << what;
    }

    // A valid leaf under a pinned root whose own validity has ended: refused, never accepted silently.
    const KSTCertificatePinner expiredAnchor({certificateOf(c.expiredRoot)});
    const auto answered = answer(expiredAnchor, trust(chainOf(c.leafUnderExpiredRoot)));
    EXPECT_FALSE(answered.returned);
    EXPECT_EQ(answered.disposition, KSTChallengeDisposition::cancelChallenge);
}

TEST_F(CertificatePinnerTest, NoPinsNoTrustOrBadInputCancel)
{
    const KSTCertificatePinner empty({});
    KSTTrustResult result = KSTTrustResult::unspecified;
    EXPECT_EQ(empty.evaluateTrust(trust(chainOf(certificates->leafA)), result), 0);
    EXPECT_EQ(result, KSTTrustResult::invalid);
    EXPECT_EQ(answer(empty, trust(chainOf(certificates->leafA))).disposition, KSTChallengeDisposition::cancelChallenge);
    EXPECT_FALSE(answer(empty, trust(chainOf(certificates->leafA))).credential);

    const auto pinner = pinnerOfA();
    const auto missing = answer(pinner, std::nullopt);
    EXPECT_FALSE(missing.returned);
    EXPECT_EQ(missing.calls, 1);
    EXPECT_EQ(missing.disposition, KSTChallengeDisposition::cancelChallenge);
    EXPECT_FALSE(missing.credential);

    EXPECT_EQ(pinner.evaluateTrust(trust({}), result), kits::KSTTrustStatusBadParameter);
    EXPECT_EQ(pinner.evaluateTrust(trust(chainOf(certificates->leafA), ""), result), kits::KSTTrustStatusBadParameter);
    auto padded = certificates->leafA.der;
    padded.push_back(0);
    EXPECT_EQ(pinner.evaluateTrust(trust({padded}), result), kits::KSTTrustStatusDecode);
    EXPECT_EQ(result, KSTTrustResult::invalid);
    EXPECT_EQ(answer(pinner, trust({padded})).disposition, KSTChallengeDisposition::cancelChallenge);
}

TEST_F(CertificatePinnerTest, CertificatesFromDER)
{
    const auto& der = certificates->leafA.der;
    const auto certificate =
        KSTCertificatePinner::createCertificationWithData(der.data(), static_cast<std::uint32_t>(der.size()));
    ASSERT_TRUE(certificate);
    EXPECT_EQ(certificate->derData(), der);
    EXPECT_EQ(certificate->subjectCommonName(), "leaf-a");
    EXPECT_FALSE(kits::KSTCreateCertificate(der.data(), der.size() - 1));
    EXPECT_FALSE(kits::KSTCreateCertificate(der.data(), 0));
    EXPECT_FALSE(kits::KSTCreateCertificate(nullptr, 10));
    EXPECT_FALSE(kits::KSTCreateCertificate("not a certificate", 17));
}

TEST(CarriedRootsTest, TheCarriedRootsParseInTheTablesOrder)
{
    const auto& roots = kits::KSTCarriedRootCertificates();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0]->subjectCommonName(), "Entrust Root Certification Authority");
    EXPECT_EQ(roots[0]->derData().size(), 1173u);
    EXPECT_EQ(roots[1]->subjectCommonName(), "DigiCert High Assurance EV Root CA");
    EXPECT_EQ(roots[1]->derData().size(), 969u);
    EXPECT_EQ(&kits::KSTCarriedRootCertificates(), &roots); // built once per process
}

TEST_F(CertificatePinnerTest, PinnedSetIsTheCarriedRootsUnlessATestReplacesIt)
{
    EXPECT_EQ(kits::KSTPinnedCertificates(), kits::KSTCarriedRootCertificates());
    kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{certificateOf(certificates->rootA)});
    ASSERT_EQ(kits::KSTPinnedCertificates().size(), 1u);
    EXPECT_EQ(kits::KSTPinnedCertificates()[0]->derData(), certificates->rootA.der);
    kits::testhooks::setPinnedCertificates(std::nullopt);
    EXPECT_EQ(kits::KSTPinnedCertificates(), kits::KSTCarriedRootCertificates());
}

// The parser and the pinner's chain input over every truncation and seeded mutations of the test
// chains' DER: a certificate or nothing, never a crash; a mutated chain is accepted only when
// OpenSSL's own verification against {A} for the same host accepts it too. Every input is tried both
// as the leaf (with the real intermediate) and as the intermediate (under the real leaf of it), so the
// whole leaf and intermediate always make an accepted chain, whatever their lengths. The test
// certificates are made afresh for each run; seed and count are fixed, and a failing input is printed.
TEST_F(CertificatePinnerTest, MutatedChainsNeverCrashAndAreAcceptedOnlyWhenOpenSSLAgrees)
{
    const auto& c = *certificates;
    const std::vector<std::string> samples{
        {c.leafA.der.begin(), c.leafA.der.end()},
        {c.intermediateA.der.begin(), c.intermediateA.der.end()},
        {c.leafUnderIntermediate.der.begin(), c.leafUnderIntermediate.der.end()},
        {c.rootA.der.begin(), c.rootA.der.end()},
    };
    const auto pinner = pinnerOfA();
    X509_STORE* reference = X509_STORE_new();
    X509_STORE_add_cert(reference, c.rootA.certificate.get());
    const auto openSSLAccepts = [&](const std::vector<std::uint8_t>& leafDER,
                                    const std::vector<std::uint8_t>& middleDER) {
        const unsigned char* cursor = leafDER.data();
        X509* leaf = d2i_X509(nullptr, &cursor, static_cast<long>(leafDER.size()));
        if (!leaf || cursor != leafDER.data() + leafDER.size()) {
            X509_free(leaf);
            return false;
        }
        cursor = middleDER.data();
        X509* middle = d2i_X509(nullptr, &cursor, static_cast<long>(middleDER.size()));
        STACK_OF(X509)* untrusted = sk_X509_new_null();
        sk_X509_push(untrusted, middle);
        X509_STORE_CTX* context = X509_STORE_CTX_new();
        X509_STORE_CTX_init(context, reference, leaf, untrusted);
        X509_VERIFY_PARAM_set1_ip_asc(X509_STORE_CTX_get0_param(context), "127.0.0.1");
        X509_STORE_CTX_set_purpose(context, X509_PURPOSE_SSL_SERVER);
        const bool accepted = X509_verify_cert(context) == 1;
        X509_STORE_CTX_free(context);
        sk_X509_pop_free(untrusted, X509_free);
        X509_free(leaf);
        return accepted;
    };
    std::size_t accepted = 0;
    const std::uint64_t seed = testsupport::fuzzSeed(27);
    // Each input costs two chain verifications: a fifth of the usual count keeps the check's time.
    const auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount() / 5, [&](std::string_view input) {
            const auto certificate = kits::KSTCreateCertificate(input.data(), input.size());
            if (certificate && certificate->derData().size() != input.size())
                return false;
            const std::vector<std::uint8_t> mutated(input.begin(), input.end());
            for (const bool asLeaf : {true, false}) {
                const auto& leaf = asLeaf ? mutated : c.leafUnderIntermediate.der;
                const auto& middle = asLeaf ? c.intermediateA.der : mutated;
                KSTTrustResult result = KSTTrustResult::invalid;
                const auto status = pinner.evaluateTrust({{leaf, middle}, "127.0.0.1"}, result);
                if (status == 0 && result == KSTTrustResult::unspecified) {
                    ++accepted;
                    if (!openSSLAccepts(leaf, middle))
                        return false;
                }
            }
            return true;
        });
    X509_STORE_free(reference);
    EXPECT_FALSE(failure) << failure->where << ": " << testsupport::hex(failure->input);
    EXPECT_GE(accepted, 2u); // the whole leaf and the whole intermediate, at least
}
