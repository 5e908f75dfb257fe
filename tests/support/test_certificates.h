// Certificates made at test time with OpenSSL (P-256 keys, SHA-256 signatures): two roots, leaves
// for 127.0.0.1 and "localhost" under each, an intermediate under root A with its own leaf, and the
// faulty ones (expired leaf, self-signed leaf, leaf for another host, leaf under an expired root).
// PEM copies of every certificate and key go into the given folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct x509_st;
struct evp_pkey_st;

namespace testsupport {

struct TestIdentity {
    std::string name;
    std::shared_ptr<x509_st> certificate;
    std::shared_ptr<evp_pkey_st> key;
    std::vector<std::uint8_t> der;
    std::filesystem::path certificatePEM; // <folder>/<name>.pem
    std::filesystem::path keyPEM;         // <folder>/<name>.key.pem
};

struct TestCertificates {
    // Makes every identity below and writes the PEM files into `folder` (which must exist).
    explicit TestCertificates(const std::filesystem::path& folder);

    TestIdentity rootA, rootB;
    TestIdentity leafA, leafB; // 127.0.0.1 and localhost, under A and B
    TestIdentity intermediateA, leafUnderIntermediate;
    TestIdentity expiredLeafA;                      // validity ended yesterday
    TestIdentity selfSignedLeaf;                    // 127.0.0.1 and localhost, its own issuer
    TestIdentity otherHostLeafA;                    // "other.test" only, under A
    TestIdentity expiredRoot, leafUnderExpiredRoot; // a root whose validity ended; a valid leaf under it
};

// The DER chain a server would show: the leaf then the given intermediates.
std::vector<std::vector<std::uint8_t>> chainOf(const TestIdentity& leaf,
                                               const std::vector<const TestIdentity*>& intermediates = {});

} // namespace testsupport
