// The test rig from the shell: `loopback_tool certificates <folder>` writes the test certificates as
// PEM files; `loopback_tool serve [--tls <folder>] [--life-ms N] [--status N] [--content-type TYPE]
// [--body TEXT]` serves one answer for every request on 127.0.0.1, prints "port <n>" first and each
// recorded request line as it ends. With --tls the certificates are made in the folder and the server
// shows leaf-a.
#include "loopback_server.h"
#include "test_certificates.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace {

int usage()
{
    std::cerr << "usage: loopback_tool certificates <folder>\n"
                 "       loopback_tool serve [--tls <folder>] [--life-ms N] [--status N] [--content-type TYPE] "
                 "[--body TEXT]\n";
    return 2;
}

int makeCertificates(const std::string& folder)
{
    const testsupport::TestCertificates certificates(folder);
    for (const auto* identity : {&certificates.rootA, &certificates.rootB, &certificates.leafA, &certificates.leafB,
                                 &certificates.intermediateA, &certificates.leafUnderIntermediate,
                                 &certificates.expiredLeafA, &certificates.selfSignedLeaf, &certificates.otherHostLeafA,
                                 &certificates.expiredRoot, &certificates.leafUnderExpiredRoot})
        std::cout << identity->certificatePEM.string() << "\n";
    return 0;
}

int serve(int argc, char** argv)
{
    std::unique_ptr<testsupport::TestCertificates> certificates;
    testsupport::LoopbackServerOptions options;
    options.life = std::chrono::seconds(5);
    testsupport::ScriptedAnswer answer;
    for (int index = 2; index < argc; ++index) {
        const std::string option = argv[index];
        if (index + 1 >= argc)
            return usage();
        const std::string value = argv[++index];
        if (option == "--tls") {
            certificates = std::make_unique<testsupport::TestCertificates>(value);
            options.identity = &certificates->leafA;
        } else if (option == "--life-ms") {
            options.life = std::chrono::milliseconds(std::strtol(value.c_str(), nullptr, 10));
        } else if (option == "--status") {
            answer.status = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
        } else if (option == "--content-type") {
            answer.headers.emplace_back("Content-Type", value);
        } else if (option == "--body") {
            answer.body = value;
        } else {
            return usage();
        }
    }
    testsupport::LoopbackServer server(options);
    std::size_t printed = 0;
    server.setHandler([answer](const testsupport::RecordedRequest&) { return answer; });
    std::cout << "port " << server.port() << std::endl;
    const auto end = std::chrono::steady_clock::now() + options.life;
    while (std::chrono::steady_clock::now() < end) {
        server.waitForRequests(printed + 1, std::chrono::milliseconds(50));
        const auto requests = server.requests();
        for (; printed < requests.size(); ++printed)
            std::cout << (requests[printed].tls ? "tls " : "plain ") << requests[printed].requestLine << std::endl;
    }
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "certificates")
        return makeCertificates(argv[2]);
    if (argc >= 2 && std::string(argv[1]) == "serve")
        return serve(argc, argv);
    return usage();
}
