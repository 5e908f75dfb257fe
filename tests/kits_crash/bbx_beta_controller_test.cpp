// The beta update check against a loopback beta service: no token means no start and no request; with a
// token each settings download asks once, the answer is kept and checks pause for the suspend duration;
// a failed load stops checks for the launch; the answer's parsing and the prompt texts.
#include "kits/crash/bbx_beta_controller.h"

#include "foundation/main_bundle.h"
#include "foundation/scheduler.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_settings_onboarding_manager.h"
#include "net/url_error.h"

#include "support/eventually.h"
#include "support/hooks/pinned_certificates_hook.h"
#include "support/loopback_server.h"
#include "support/scoped_environment.h"
#include "support/suite_certificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

using foundation::MainBundle;
using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using kits::BBXBetaController;
using kits::BBXBetaUpdate;
using testsupport::eventually;
using testsupport::LoopbackServer;
using testsupport::ScriptedAnswer;
using namespace std::chrono_literals;

namespace {

const char* checkPath = "/spi/v2/platforms/mac/apps/org.example.beta/beta_update_check";

class Delegate final : public kits::BBXBetaControllerDelegate {
public:
    std::optional<std::string> APIKeyForBetaController(BBXBetaController&) override { return "beta-api-key"; }
    kits::BBXSettings settingsForBetaController(BBXBetaController&) override
    {
        return kits::BBXSettings(
            PropertyListDictionary{{"beta", PropertyListDictionary{{"update_suspend_duration", std::int64_t{120}}}}});
    }
};

ScriptedAnswer json(int status, std::string body)
{
    return {status, {}, {{"Content-Type", "application/json"}}, std::move(body)};
}

class BetaController : public testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("bbx-beta-certs"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
            kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
        MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example.beta"},
                                                             {"CFBundleVersion", "42"},
                                                             {"CFBundleShortVersionString", "1.2"},
                                                             {"CFBundleName", "Beta App"},
                                                             {"BlackboxSignedForDistribution", true}});
        kits::setKitDebugLogging(true);
        kits::setKitLogSink([this](std::string_view line) {
            std::lock_guard lock(mutex);
            logged += std::string(line) + "\n";
        });
        foundation::setScheduler(scheduler);
    }
    void TearDown() override
    {
        kits::setKitLogSink({});
        kits::setKitDebugLogging(false);
        kits::testhooks::setPinnedCertificates(std::nullopt);
        foundation::setScheduler(nullptr);
        MainBundle::setInfoDictionary(nullptr);
    }
    std::string log()
    {
        std::lock_guard lock(mutex);
        return logged;
    }

    static inline testsupport::SuiteCertificates certificates;
    LoopbackServer server{{&certificates->leafA, {}, std::chrono::seconds(60)}};
    testsupport::ScopedEnvironment endpoint{{"BlackboxBetaEndpoint", server.url("")}};
    std::shared_ptr<foundation::VirtualScheduler> scheduler = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    std::mutex mutex;
    std::string logged;
};

} // namespace

TEST_F(BetaController, WithoutATokenItDoesNotStartAndNeverAsks)
{
    EXPECT_TRUE(BBXBetaController::isBetaSupported());
    auto platform = BBXBetaController::create(delegate);
    EXPECT_EQ(platform->betaToken(), std::nullopt);
    EXPECT_FALSE(platform->start());

    // A controller with a token, started after it, asks once per download; only its request arrives.
    auto tokened = BBXBetaController::create(delegate, [] { return std::optional<std::string>("tok"); });
    ASSERT_TRUE(tokened->start());
    server.script("GET", checkPath, json(200, R"({"url":"https://example.org/b.zip"})"));
    foundation::NotificationCenter::defaultCenter().post(kits::KSTSettingsAvailableNotification);
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    ASSERT_TRUE(eventually([&] { return tokened->activeUpdate().has_value(); }, 5.0));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("X-Blackbox-Beta-Token"), "tok");
    EXPECT_FALSE(platform->activeUpdate());
}

TEST_F(BetaController, ASettingsDownloadAsksOnceAndKeepsTheUpdateThenPausesChecks)
{
    int tokenReads = 0;
    auto controller = BBXBetaController::create(delegate, [&] {
        ++tokenReads;
        return std::optional<std::string>("beta-token");
    });
    ASSERT_TRUE(controller->start());
    const std::string answer = R"json({"url":"https://example.org/b.zip","version_string":"1.3 (43)"})json";
    server.script("GET", checkPath, json(200, answer));
    foundation::NotificationCenter::defaultCenter().post(kits::KSTSettingsAvailableNotification);
    ASSERT_TRUE(eventually([&] { return controller->activeUpdate().has_value(); }, 5.0)) << log();
    EXPECT_EQ(controller->activeUpdate()->url(), "https://example.org/b.zip");
    EXPECT_EQ(controller->activeUpdate()->version(), "1.3 (43)");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path(), checkPath);
    const std::string target = request.target;
    EXPECT_NE(target.find("?build_version=42&display_version=1.2&"), std::string::npos) << target;
    EXPECT_NE(target.find("&source=3"), std::string::npos) << target;
    std::vector<std::string> names;
    for (const auto& [name, value] : request.headers)
        if (name.rfind("X-Blackbox-", 0) == 0 || name == "User-Agent" || name == "Accept")
            names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"User-Agent", "Accept", "X-Blackbox-Developer-Token",
                                               "X-Blackbox-API-Client-Id", "X-Blackbox-API-Client-Display-Version",
                                               "X-Blackbox-API-Client-Build-Version", "X-Blackbox-API-Key",
                                               "X-Blackbox-Beta-Token"}));
    EXPECT_EQ(request.header("User-Agent"), "Blackbox Mac SDK/3.8.4");
    EXPECT_EQ(request.header("X-Blackbox-API-Key"), "beta-api-key");
    EXPECT_EQ(request.header("X-Blackbox-Beta-Token"), "beta-token");
    EXPECT_EQ(tokenReads, 1);
    const std::string lines = log();
    EXPECT_NE(lines.find("[Blackbox:Beta] Loading beta update\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("[Blackbox:Beta] Beta Update-Check url string: 'https://127.0.0.1:"), std::string::npos);
    EXPECT_NE(lines.find("[Blackbox:Beta] Beta update loaded\n"), std::string::npos);

    // Checks pause for the settings' duration: a download meanwhile asks nothing.
    ASSERT_TRUE(eventually([&] { return controller->checksSuspended(); }, 5.0));
    EXPECT_EQ(scheduler->requestedDelays().back(), foundation::SchedulerDuration(120));
    controller->checkForUpdate();
    controller->applicationWillEnterForeground();
    scheduler->advance(foundation::SchedulerDuration(119));
    EXPECT_TRUE(controller->checksSuspended());
    EXPECT_EQ(server.requests().size(), 1u);

    // Once it is over, the next download asks again. (The kit platform may post a download of its own as
    // the clock moves, so every later request gets the new answer.)
    server.setHandler(
        [](const testsupport::RecordedRequest&) { return json(200, R"({"url":"https://example.org/c.zip"})"); });
    scheduler->advance(foundation::SchedulerDuration(1));
    ASSERT_TRUE(eventually([&] { return !controller->checksSuspended() || server.requests().size() > 1; }, 5.0));
    foundation::NotificationCenter::defaultCenter().post(kits::KSTSettingsAvailableNotification);
    ASSERT_TRUE(eventually([&] { return controller->activeUpdate()->url() == "https://example.org/c.zip"; }, 5.0))
        << log();
    EXPECT_EQ(controller->activeUpdate()->version(), std::nullopt);
}

TEST_F(BetaController, AFailedLoadStopsChecksForTheLaunch)
{
    auto controller = BBXBetaController::create(delegate, [] { return std::optional<std::string>("t"); });
    ASSERT_TRUE(controller->start());
    server.script("GET", checkPath, json(403, "{}"));
    controller->checkForUpdate();
    ASSERT_TRUE(
        eventually([&] { return log().find("[Blackbox:Beta] Failed to load update '") != std::string::npos; }, 5.0))
        << log();
    EXPECT_TRUE(controller->retrying());
    EXPECT_FALSE(controller->checksSuspended());

    server.script("GET", checkPath, json(200, R"({"url":"https://example.org/b.zip"})"));
    controller->checkForUpdate();
    controller->applicationWillEnterForeground();
    // Nothing is left to wait for; a request would arrive well within this.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(log().find("Beta update loaded"), std::string::npos);
    EXPECT_FALSE(controller->activeUpdate());
}

TEST_F(BetaController, AnAnswerWithoutAUsableURLIsNoUpdate)
{
    auto controller = BBXBetaController::create(delegate, [] { return std::optional<std::string>("t"); });
    server.script("GET", checkPath, json(200, R"({"version_string":"2.0"})"));
    controller->checkForUpdate();
    ASSERT_TRUE(eventually([&] { return log().find("Beta update url is invalid") != std::string::npos; }, 5.0))
        << log();
    EXPECT_NE(log().find("[Blackbox:Beta] Unable to read beta update data: "), std::string::npos);
    EXPECT_FALSE(controller->activeUpdate());
    // The answer came, so checks pause and the controller is ready for the next one.
    EXPECT_FALSE(controller->retrying());

    std::optional<foundation::Error> error;
    EXPECT_FALSE(controller->updateWithData("{not json", error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSCocoaErrorDomain");
    EXPECT_NE(log().find("[Blackbox:Beta] Unable to deserialize beta update data: "), std::string::npos);
}

TEST(BetaUpdate, NeedsADictionaryWithAURL)
{
    const auto parse = [](PropertyListValue value) {
        std::optional<foundation::Error> error;
        auto update = BBXBetaUpdate::betaUpdateWithDictionary(value, error);
        EXPECT_EQ(update.has_value(), !error.has_value());
        return std::make_pair(update, error);
    };
    for (const auto& bad :
         {PropertyListValue(PropertyListDictionary{{"version_string", "2.0"}}),
          PropertyListValue(PropertyListDictionary{{"url", std::int64_t{5}}}),
          PropertyListValue(PropertyListDictionary{{"url", "has spaces in it"}}), PropertyListValue("https://a.b/c")}) {
        const auto [update, error] = parse(bad);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, net::URLErrorDomain);
        EXPECT_EQ(error->code, -1017);
    }
    const auto [update, error] = parse(PropertyListDictionary{{"url", "https://a.b/c"}, {"version_string", "2.0"}});
    ASSERT_TRUE(update);
    EXPECT_EQ(update->url(), "https://a.b/c");
    EXPECT_EQ(update->version(), "2.0");
    // A version that is no text is left out.
    EXPECT_EQ(parse(PropertyListDictionary{{"url", "https://a.b/c"}, {"version_string", 2.0}}).first->version(),
              std::nullopt);
}

TEST(BetaUpdate, PromptTextsNameTheApplicationAndFollowTheHostsTable)
{
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleDisplayName", "Horavine"}});
    EXPECT_EQ(BBXBetaUpdate::promptTitle(), "New Build Available");
    EXPECT_EQ(BBXBetaUpdate::promptMessage(), "A new version of Horavine is available for testing.");
    EXPECT_EQ(BBXBetaUpdate::cancelLabel(), "Cancel");
    EXPECT_EQ(BBXBetaUpdate::installLabel(), "Install");
    MainBundle::setStringsTable(
        "Blackbox", PropertyListDictionary{{"BlackboxDistributionPromptMessage", "Neue Version von %@ zum Testen."},
                                           {"BlackboxDistributionPromptInstallTitle", "Installieren"}});
    EXPECT_EQ(BBXBetaUpdate::promptMessage(), "Neue Version von Horavine zum Testen.");
    EXPECT_EQ(BBXBetaUpdate::installLabel(), "Installieren");
    EXPECT_EQ(BBXBetaUpdate::promptTitle(), "New Build Available");
    MainBundle::setStringsTable("Blackbox", std::nullopt);
    MainBundle::setInfoDictionary(nullptr);
}

TEST(BetaSupport, OnlyBuildsSignedForDistribution)
{
    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example.beta"}});
    EXPECT_FALSE(BBXBetaController::isBetaSupported());
    MainBundle::setInfoDictionary(PropertyListDictionary{{"BlackboxSignedForDistribution", false}});
    EXPECT_FALSE(BBXBetaController::isBetaSupported());
    MainBundle::setInfoDictionary(PropertyListDictionary{{"BlackboxSignedForDistribution", true}});
    EXPECT_TRUE(BBXBetaController::isBetaSupported());
    MainBundle::setInfoDictionary(nullptr);
}
