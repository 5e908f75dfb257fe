// The kit network client against the HTTPS loopback server (its root pinned through the test hook),
// its retries on the virtual scheduler: the retry limit, delays from "Retry-After", time-outs and
// connection failures retried while refusals are not, an invalidated client, pinning (debug mode
// included), and the kit sessions' https-only rule and answer cap.
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_network_client.h"
#include "kits/platform/kst_network_response_handler.h"

#include "foundation/main_bundle.h"
#include "foundation/scheduler.h"
#include "net/url_error.h"

#include "closed_port.h"
#include "hooks/default_trust_store_hook.h"
#include "hooks/pinned_certificates_hook.h"
#include "loopback_server.h"
#include "suite_certificates.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <tuple>

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
        kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
            kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
    }
    void TearDown() override
    {
        foundation::setScheduler(previous);
        kits::setKitDebugLogging(false);
        kits::testhooks::setPinnedCertificates(std::nullopt);
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

    static inline testsupport::SuiteCertificates certificates;
    std::shared_ptr<foundation::VirtualScheduler> clock = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<foundation::Scheduler> previous;
    LoopbackServer server{{&certificates->leafA, {}, 60s}};
};

} // namespace

TEST_F(NetworkClientTest, RetryLimitCountsRepetitions)
{
    server.script("GET", "/busy", answer(503));
    server.script("GET", "/busy", answer(503));
    auto client = kits::KSTNetworkClient::create();
    ASSERT_TRUE(client);
    ASSERT_NE(client->certPinner(), nullptr); // without certificates of its own: the kits' pinned roots
    EXPECT_EQ(client->certPinner()->certificates().size(), 1u);
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

TEST_F(NetworkClientTest, TimeOutsAndConnectionFailuresAreRetriedRefusalsAreNot)
{
    server.script("GET", "/flaky", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    server.script("GET", "/flaky", ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::closeWithoutAnswer});
    server.script("GET", "/flaky", ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::reset});
    server.script("GET", "/flaky", answer(200, {}, "fourth"));
    auto client = kits::KSTNetworkClient::create();
    net::URLRequest flaky(server.url("/flaky"));
    flaky.timeoutInterval = 1.0;
    const auto [recovered, delays] = run(*client, flaky, 10);
    EXPECT_FALSE(recovered.error);
    EXPECT_EQ(recovered.data, "fourth");
    EXPECT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(delays.size(), 3u);

    // Nobody listening: tried again after the back-off until the limit.
    std::size_t before = clock->requestedDelays().size();
    {
        const testsupport::ClosedPort closed;
        ASSERT_NE(closed.port(), 0);
        const auto [refused, after] =
            run(*client, net::URLRequest("https://127.0.0.1:" + std::to_string(closed.port()) + "/"), 2);
        EXPECT_EQ(codeOf(refused.error), kits::KSTNetworkErrorRetryLimit);
        EXPECT_EQ(after.size(), before + 2);
    }

    // Refusals are final: a plain http URL is never connected to, an unpinned server never trusted.
    LoopbackServer plain;
    LoopbackServer underB({&certificates->leafB, {}, 60s});
    before = clock->requestedDelays().size();
    EXPECT_EQ(codeOf(run(*client, net::URLRequest(plain.url("/")), 10).first.error),
              net::URLErrorAppTransportSecurityRequiresSecureConnection);
    EXPECT_EQ(codeOf(run(*client, net::URLRequest(underB.url("/")), 10).first.error),
              net::URLErrorServerCertificateUntrusted);
    EXPECT_EQ(clock->requestedDelays().size(), before);
    EXPECT_EQ(plain.connectionCount(), 0u);
    EXPECT_TRUE(underB.requests().empty());
}

TEST_F(NetworkClientTest, AnInvalidatedClientSendsNothing)
{
    auto client = kits::KSTNetworkClient::create();
    client->invalidateAndCancel();
    const auto [outcome, delays] = run(*client, net::URLRequest(server.url("/")), 10);
    EXPECT_EQ(codeOf(outcome.error), -3);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(NetworkClientTest, PinningHoldsInDebugMode)
{
    const auto& c = *certificates;
    LoopbackServer underB({&c.leafB, {}, 60s});
    auto client = kits::KSTNetworkClient::create(
        {}, nullptr, kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootA.der.data(), c.rootA.der.size())});
    ASSERT_NE(client->certPinner(), nullptr);
    server.script("GET", "/", answer(200, {}, "pinned"));
    EXPECT_EQ(run(*client, net::URLRequest(server.url("/")), 0).first.data, "pinned");
    const auto refused = run(*client, net::URLRequest(underB.url("/")), 0).first.error;
    EXPECT_EQ(codeOf(refused), net::URLErrorServerCertificateUntrusted);
    EXPECT_EQ(refused->localizedDescription, "the server's certificate does not chain to a trusted root");
    EXPECT_TRUE(underB.requests().empty());

    // Debug mode changes the log, not whom the kits trust: B stays refused, even with a trust store
    // that holds B for default handling.
    kits::setKitDebugLogging(true);
    net::testhooks::setDefaultTrustStoreFile(c.rootB.certificatePEM.string());
    EXPECT_EQ(codeOf(run(*client, net::URLRequest(underB.url("/")), 0).first.error),
              net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(underB.requests().empty());
}

TEST(BBXURLSessionTest, FactoriesHandOutPlatformSessions)
{
    EXPECT_TRUE(kits::BBXURLSession::NSURLSessionShouldBeUsed());
    EXPECT_FALSE(kits::BBXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("id"));
    EXPECT_FALSE(kits::BBXURLSession::sessionWithConfiguration(std::nullopt));
    EXPECT_TRUE(
        kits::BBXURLSession::sessionWithConfiguration(kits::BBXURLSessionConfiguration::defaultSessionConfiguration()));

    // Every kit session keeps the kits' rules: looser values are tightened, tighter ones kept.
    foundation::MainBundle::setCachesDirectory("/kit-caches");
    const auto rules = kits::BBXURLSessionConfiguration::defaultSessionConfiguration();
    EXPECT_TRUE(rules.httpsOnly);
    EXPECT_TRUE(rules.insecureURLRefused);
    EXPECT_EQ(rules.maximumRedirects, 5);
    EXPECT_EQ(rules.maximumResponseBytes, 1u << 20);
    EXPECT_EQ(rules.downloadDirectory, std::filesystem::path("/kit-caches/io.tessmark.sdk.mac.data/downloads"));
    for (const auto& [redirects, bytes, keptRedirects, keptBytes] :
         {std::tuple<int, std::uint64_t, int, std::uint64_t>{50, 1u << 30, 5, 1u << 20}, {2, 100, 2, 100}}) {
        net::URLSessionConfiguration asked;
        asked.maximumRedirects = redirects;
        asked.maximumResponseBytes = bytes;
        const auto kept = kits::BBXURLSessionConfiguration::withKitRules(asked);
        EXPECT_TRUE(kept.httpsOnly);
        EXPECT_EQ(kept.maximumRedirects, keptRedirects);
        EXPECT_EQ(kept.maximumResponseBytes, keptBytes);
    }
    foundation::MainBundle::setCachesDirectory(std::nullopt);

    foundation::Error unwritable{
        std::string(net::URLErrorDomain), net::URLErrorCannotWriteToFile, "disk full", {}, "", {}};
    const auto translated = kits::BBXURLSession::downloadTaskError(unwritable);
    EXPECT_EQ(translated->domain, "BBXURLSessionDownloadTaskError");
    EXPECT_EQ(translated->code, -1);
    foundation::Error timedOut{std::string(net::URLErrorDomain), net::URLErrorTimedOut, "", {}, "", {}};
    EXPECT_EQ(kits::BBXURLSession::downloadTaskError(timedOut)->code, net::URLErrorTimedOut);
    EXPECT_FALSE(kits::BBXURLSession::downloadTaskError(std::nullopt));
}
