// Answers a server-trust challenge by evaluating the server's chain against the pinned roots only
// (never the system's roots): the whole chain must verify up to a pinned root and name the host.
// A pinner holds an immutable copy of its roots, so challenges may be answered on any thread.
#pragma once

#include "kits/platform/kst_certificate.h"
#include "net/url_session.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class BBXURLSession;

// What a TLS peer showed: its chain in DER, leaf first, and the host the client asked for (a name or
// an IP address text).
struct KSTServerTrust {
    std::vector<std::vector<std::uint8_t>> certificateChain;
    std::string host;
};

// Trust results as the evaluation gives them.
enum class KSTTrustResult : std::uint32_t {
    invalid = 0,
    proceed = 1,
    unspecified = 4, // the chain is trusted by its anchors
    fatalTrustFailure = 6,
};

// Status codes of evaluateTrust (0 is success).
constexpr std::int16_t KSTTrustStatusSuccess = 0;
constexpr std::int16_t KSTTrustStatusBadParameter = -50;  // an empty chain or host
constexpr std::int16_t KSTTrustStatusAllocate = -108;     // OpenSSL could not make its objects
constexpr std::int16_t KSTTrustStatusDecode = -26275;     // a chain entry is no certificate
constexpr std::int16_t KSTTrustStatusEvaluation = -25293; // the verification itself broke down

// Dispositions handed to a challenge's completion.
enum class KSTChallengeDisposition : int {
    useCredential = 0,
    performDefaultHandling = 1,
    cancelChallenge = 2,
};

// The credential that accepts a server trust.
struct KSTURLCredential {
    KSTServerTrust trust;
};

struct KSTURLProtectionSpace {
    std::string host;
    int port = 0;
    std::optional<KSTServerTrust> serverTrust; // present for server-trust challenges
};

struct KSTURLAuthenticationChallenge {
    KSTURLProtectionSpace protectionSpace;
};

using KSTChallengeCompletion =
    std::function<void(KSTChallengeDisposition disposition, std::shared_ptr<const KSTURLCredential> credential)>;

class KSTCertificatePinner {
public:
    explicit KSTCertificatePinner(KSTCertificateArray certificates);

    const KSTCertificateArray& certificates() const { return certificates_; }

    // 0 with the result of the evaluation, or a failure status. No pinned certificates: result
    // invalid, status 0 (the challenge is then cancelled).
    std::int16_t evaluateTrust(const KSTServerTrust& trust, KSTTrustResult& result) const;

    // Completes with useCredential and a credential for the trust when the chain verifies to a pinned
    // root (returns true); with cancelChallenge and no credential otherwise, also when the challenge
    // carries no server trust (returns false).
    bool handleChallengeFromURLSession(const KSTURLAuthenticationChallenge& challenge, BBXURLSession* session,
                                       const KSTChallengeCompletion& completionHandler) const;

    // A URL session's answer to a server-trust challenge: the credential only for a chain that verifies
    // to a pinned root, in debug mode too (debug mode changes what the kits log, never whom they trust).
    net::ChallengeDisposition dispositionForServerTrust(const net::ServerTrust& trust) const;

    static KSTCertificateRef createCertificationWithData(const void* bytes, std::uint32_t length);

private:
    KSTCertificateArray certificates_;
};

} // namespace kits
