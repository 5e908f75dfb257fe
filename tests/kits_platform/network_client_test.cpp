// The kit network client against the loopback server, its retries on the virtual scheduler: the
// retry limit, delays from "Retry-After", time-outs retried and refused connections not, an
// invalidated client, and pinning (turned off in debug mode).
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_network_client.h"

#include "foundation/scheduler.h"
#include "net/url_error.h"

#include "hooks/default_trust_store_hook.h"
#include "loopback_server.h"
#include "suite_certificates.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::AnswerFault;
using testsupport::LoopbackServer;
using testsupport::ScriptedAnswer;

struct Outcome {
    std::optional<std::string> data;
    std::optional<net::HTTPURLResponse> response;
    std::optional<foundation::Error> error;
};

std::int64_t codeOf(const std::optional<foundation::Error>& error)
{
    return error ? error->code : 0;
}

ScriptedAnswer answer(int status, std::vector<std::pair<std::string, std::string>> headers = {}, std::string body = "")
{
    return ScriptedAnswer{status, "", std::move(headers), std::move(body), 0ms, AnswerFault::none};
}

class NetworkClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("horavine-client"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        previous = foundation::scheduler();
        foundation::setScheduler(clock);
    }
    void TearDown() override
    {
        foundation::setScheduler(previous);
        kits::setKitDebugLogging(false);
        net::testhooks::setDefaultTrustStoreFile(std::nullopt);
    }

    // Starts the request; while it runs, each delay the client asks for is recorded and, once asked
    // for, passed on the virtual clock. Returns the outcome and the delays in seconds.
    std::pair<Outcome, std::vector<double>> run(kits::KSTNetworkClient& client, const net::URLRequest& request,
                                                std::uint64_t retryLimit)
    {
        std::promise<Outcome> done;
        auto future = done.get_future();
        client.startDataTaskWithRequest(
            request,
            [&done](auto data, auto response, auto error) {
                done.set_value({std::move(data), std::move(response), std::move(error)});
            },
            retryLimit);
        std::size_t passed = 0;
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (future.wait_for(10ms) != std::future_status::ready && std::chrono::steady_clock::now() < end) {
            const auto delays = clock->requestedDelays();
            for (; passed < delays.size(); ++passed)
                clock->advance(delays[passed]);
        }
        std::vector<double> seconds;
        for (const auto delay : clock->requestedDelays())
            seconds.push_back(delay.count());
        if (future.wait_for(0s) != std::future_status::ready)
            return {Outcome{std::nullopt, std::nullopt, foundation::Error{"test", 0, "no completion", {}, "", {}}},
                    seconds};
        return {future.get(), seconds};
    }

    std::shared_ptr<foundation::VirtualScheduler> clock = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<foundation::Scheduler> previous;
    static inline testsupport::SuiteCertificates certificates;
};

} // namespace

TEST_F(NetworkClientTest, RetryLimitCountsRepetitions)
{
    LoopbackServer server;
    server.script("GET", "/busy", answer(503));
    server.script("GET", "/busy", answer(503));
    auto client = kits::KSTNetworkClient::create();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->certPinner(), nullptr);
    const auto [outcome, delays] = run(*client, net::URLRequest(server.url("/busy")), 1);
    EXPECT_EQ(outcome.error->domain, "KSTNetworkError");
    EXPECT_EQ(codeOf(outcome.error), -6);
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(server.requests().size(), 2u);
    ASSERT_EQ(delays.size(), 1u);
    EXPECT_GE(delays[0], 1.79);
    EXPECT_LE(delays[0], 2.21);
}

TEST_F(NetworkClientTest, RetryAfterSetsTheDelays)
{
    LoopbackServer server;
    for (int attempt = 0; attempt < 4; ++attempt)
        server.script("GET", "/later", answer(429, {{"Retry-After", "30"}}));
    auto client = kits::KSTNetworkClient::create();
    const auto [outcome, delays] = run(*client, net::URLRequest(server.url("/later")), 3);
    EXPECT_EQ(codeOf(outcome.error), -6);
    EXPECT_EQ(server.requests().size(), 4u);
    ASSERT_EQ(delays.size(), 3u);
    EXPECT_GE(delays[0], 26.9);
    EXPECT_LE(delays[0], 33.1);
    EXPECT_GE(delays[1], 26.9);
    EXPECT_LE(delays[1], 33.1);
    EXPECT_GE(delays[2], 809.0);
    EXPECT_LE(delays[2], 991.0);
}

TEST_F(NetworkClientTest, HostileRetryAfterValuesGiveBoundedDelays)
{
    LoopbackServer server;
    for (const char* value : {"inf", "nan", "1e308", "-5"})
        server.script("GET", "/hostile", answer(503, {{"Retry-After", value}}));
    server.script("GET", "/hostile", answer(200, {}, "done"));
    auto client = kits::KSTNetworkClient::create();
    const auto [outcome, delays] = run(*client, net::URLRequest(server.url("/hostile")), 10);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.data, "done");
    ASSERT_EQ(delays.size(), 4u);
    for (const double delay : delays) {
        EXPECT_TRUE(std::isfinite(delay));
        EXPECT_LE(delay, 86400.0);
    }
}

TEST_F(NetworkClientTest, TimeOutsAreRetriedRefusedConnectionsAreNot)
{
    LoopbackServer server;
    server.script("GET", "/flaky", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    server.script("GET", "/flaky", answer(200, {}, "second"));
    auto client = kits::KSTNetworkClient::create();
    net::URLRequest flaky(server.url("/flaky"));
    flaky.timeoutInterval = 1.0;
    const auto [recovered, delays] = run(*client, flaky, 10);
    EXPECT_FALSE(recovered.error);
    EXPECT_EQ(recovered.data, "second");
    EXPECT_EQ(server.requests().size(), 2u);

    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length);
    const auto before = clock->requestedDelays().size();
    const auto [refused, after] =
        run(*client, net::URLRequest("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"), 10);
    ::close(closed);
    EXPECT_EQ(codeOf(refused.error), net::URLErrorCannotConnectToHost);
    EXPECT_EQ(after.size(), before); // not repeated
}

TEST_F(NetworkClientTest, AnInvalidatedClientSendsNothing)
{
    LoopbackServer server;
    auto client = kits::KSTNetworkClient::create();
    client->invalidateAndCancel();
    const auto [outcome, delays] = run(*client, net::URLRequest(server.url("/")), 10);
    EXPECT_EQ(codeOf(outcome.error), -3);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(NetworkClientTest, PinningAndDebugMode)
{
    const auto& c = *certificates;
    LoopbackServer underA({&c.leafA, {}, 60s});
    LoopbackServer underB({&c.leafB, {}, 60s});
    auto client = kits::KSTNetworkClient::create(
        {}, nullptr, kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootA.der.data(), c.rootA.der.size())});
    ASSERT_NE(client->certPinner(), nullptr);
    underA.script("GET", "/", answer(200, {}, "pinned"));
    EXPECT_EQ(run(*client, net::URLRequest(underA.url("/")), 0).first.data, "pinned");
    EXPECT_EQ(codeOf(run(*client, net::URLRequest(underB.url("/")), 0).first.error),
              net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(underB.requests().empty());

    // Debug mode: default handling, here against a trust store holding B.
    kits::setKitDebugLogging(true);
    net::testhooks::setDefaultTrustStoreFile(c.rootB.certificatePEM.string());
    underB.script("GET", "/", answer(200, {}, "debug"));
    EXPECT_EQ(run(*client, net::URLRequest(underB.url("/")), 0).first.data, "debug");
}

TEST(BBXURLSessionTest, FactoriesHandOutPlatformSessions)
{
    EXPECT_TRUE(kits::BBXURLSession::NSURLSessionShouldBeUsed());
    EXPECT_FALSE(kits::BBXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("id"));
    EXPECT_FALSE(kits::BBXURLSession::sessionWithConfiguration(std::nullopt));
    EXPECT_TRUE(
        kits::BBXURLSession::sessionWithConfiguration(kits::BBXURLSessionConfiguration::defaultSessionConfiguration()));

    foundation::Error unwritable{
        std::string(net::URLErrorDomain), net::URLErrorCannotWriteToFile, "disk full", {}, "", {}};
    const auto translated = kits::BBXURLSession::downloadTaskError(unwritable);
    EXPECT_EQ(translated->domain, "BBXURLSessionDownloadTaskError");
    EXPECT_EQ(translated->code, -1);
    foundation::Error timedOut{std::string(net::URLErrorDomain), net::URLErrorTimedOut, "", {}, "", {}};
    EXPECT_EQ(kits::BBXURLSession::downloadTaskError(timedOut)->code, net::URLErrorTimedOut);
    EXPECT_FALSE(kits::BBXURLSession::downloadTaskError(std::nullopt));
}
