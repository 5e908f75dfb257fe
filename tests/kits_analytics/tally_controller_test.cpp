// The analytics controller on its event queue with the HTTPS loopback server (its root pinned) as events
// service: nothing is sent before settings arrive and everything waiting goes once they do, the package's
// part and log, the disabled path, settings applied once, the flush timer, rotation by size, the previous
// run's crash in its own package, leftovers over the limit at start, retries until given up, packages
// kept through connections that fail and sent by a later start, an events URL that is not https, a
// burst of events from several threads, and sampling by the installation hash, alone and as the
// settings set it.
#include "kits/analytics/tly_event.h"
#include "kits/analytics/tly_event_filter.h"
#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_metadata.h"
#include "kits/analytics/tly_settings.h"
#include "kits/analytics/tly_tally_controller.h"
#include "kits/analytics/tly_timer.h"
#include "kits/platform/kit_log.h"

#include "foundation/application_notifications.h"
#include "foundation/notification_center.h"
#include "foundation/scheduler.h"
#include "kits/platform/kst_settings_onboarding_manager.h"

#include "closed_port.h"
#include "event_log_reader.h"
#include "file_contents.h"
#include "gunzip.h"
#include "hooks/default_trust_store_hook.h"
#include "hooks/pinned_certificates_hook.h"
#include "log_capture.h"
#include "loopback_server.h"
#include "multipart_reader.h"
#include "suite_certificates.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using foundation::PropertyListDictionary;
using kits::TLYTallyController;
using testsupport::LoopbackServer;

namespace {

// The events service is an HTTPS loopback server whose root is the one pinned root.
class TallyControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("horavine-tally-certs"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        previous = foundation::scheduler();
        foundation::setScheduler(clock);
        kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
            kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
        net::testhooks::setDefaultTrustStoreFile(certificates->rootA.certificatePEM.string());
        server.setHandler([](const testsupport::RecordedRequest&) {
            return testsupport::ScriptedAnswer{202, "", {}, "", 0ms, testsupport::AnswerFault::none};
        });
    }
    void TearDown() override
    {
        if (controller)
            controller->eventQueue()->waitUntilAllOperationsAreFinished();
        controller.reset();
        foundation::setScheduler(previous);
        kits::testhooks::setPinnedCertificates(std::nullopt);
        net::testhooks::setDefaultTrustStoreFile(std::nullopt);
    }

    // Starts a controller over the folder with settings that the test may set later.
    void startController(std::optional<std::string> betaToken = std::nullopt, std::string installationId = "abc")
    {
        TLYTallyController::Environment environment;
        environment.settings = [this] { return currentSettings; };
        environment.isFirstInstall = firstInstall;
        environment.metadata = [installationId](const std::optional<std::string>& token) {
            kits::TLYMetadata::Fields fields;
            fields.APIKey = "api-key";
            fields.installationId = installationId;
            fields.betaToken = token;
            fields.executionIdentifier = "run-2";
            return std::make_shared<const kits::TLYMetadata>(fields);
        };
        controller = TLYTallyController::initWithBetaToken(betaToken, folder.path(), environment);
        idle();
    }
    void idle() const { controller->eventQueue()->waitUntilAllOperationsAreFinished(); }

    std::shared_ptr<const PropertyListDictionary> settingsWith(PropertyListDictionary analytics,
                                                               PropertyListDictionary features = {})
    {
        analytics.set("url", foundation::PropertyListValue(server.url("/spi/v2/events")));
        PropertyListDictionary settings;
        settings.set("analytics", foundation::PropertyListValue(std::move(analytics)));
        if (!features.empty())
            settings.set("features", foundation::PropertyListValue(std::move(features)));
        return std::make_shared<const PropertyListDictionary>(std::move(settings));
    }
    // The settings of settingsWith({}) with another events URL.
    static std::shared_ptr<const PropertyListDictionary> settingsAt(const std::string& url)
    {
        PropertyListDictionary settings;
        settings.set("analytics", foundation::PropertyListValue(PropertyListDictionary{{"url", url}}));
        return std::make_shared<const PropertyListDictionary>(std::move(settings));
    }
    void deliverSettings(std::shared_ptr<const PropertyListDictionary> settings)
    {
        currentSettings = std::move(settings);
        foundation::NotificationCenter::defaultCenter().post(kits::KSTSettingsAvailableNotification);
        idle();
    }

    std::filesystem::path events() const { return folder.path() / "events"; }
    std::vector<std::filesystem::path> filesWith(const std::string& extension) const
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(events()))
            if (entry.path().extension() == extension)
                found.push_back(entry.path());
        return found;
    }
    bool waitFor(const std::function<bool()>& condition) const
    {
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
            idle();
        }
        return true;
    }
    // The event names of a recorded upload's log.
    static std::vector<std::string> logNamesOf(const testsupport::RecordedRequest& request)
    {
        const auto parts = testsupport::readMultipartBody(request.body, boundaryOf(request));
        if (!parts.parts || parts.parts->size() != 1)
            return {"<bad body: " + parts.error + ">"};
        const auto log = testsupport::gunzip(parts.parts->front().body);
        const auto lines = testsupport::readEventLog(log.bytes.value_or(""));
        std::vector<std::string> names;
        for (const auto& line : lines.lines.value_or(std::vector<testsupport::EventLogLine>{}))
            names.push_back(line.name
                            + (line.name == "custom" || line.name == "app_crashed" ? ":" + line.payload : ""));
        return names;
    }

    // The custom event names of a log, in order.
    static std::vector<std::string> customTypesOf(std::string_view log)
    {
        static const std::regex customType(R"re("custom_type":"([^"]*)")re");
        std::vector<std::string> types;
        const auto lines = testsupport::readEventLog(log);
        for (const auto& line : lines.lines.value_or(std::vector<testsupport::EventLogLine>{})) {
            std::smatch match;
            if (line.name == "custom" && std::regex_search(line.payload, match, customType))
                types.push_back(match[1]);
        }
        return types;
    }
    // The log inside a packaged file, or "" when it cannot be read.
    static std::string logOfPackage(const std::filesystem::path& package)
    {
        const auto parts = testsupport::readMultipartBody(testsupport::readFile(package), package.stem().string());
        if (!parts.parts || parts.parts->size() != 1)
            return "";
        return testsupport::gunzip(parts.parts->front().body).bytes.value_or("");
    }
    // The boundary a recorded upload names in its "Content-Type".
    static std::string boundaryOf(const testsupport::RecordedRequest& request)
    {
        return testsupport::boundaryOf(request.header("Content-Type").value_or(""));
    }
    // Passes every delay asked of the virtual clock until the condition holds (at most 60 s of real time).
    bool advanceUntil(const std::function<bool()>& condition) const
    {
        std::size_t passed = 0;
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(5ms);
            const auto delays = clock->requestedDelays();
            for (; passed < delays.size(); ++passed)
                clock->advance(delays[passed]);
        }
        return true;
    }

    static inline testsupport::SuiteCertificates certificates;
    testsupport::TempFolder folder{"horavine-tally"};
    LoopbackServer server{testsupport::LoopbackServerOptions{&certificates->leafA, {}, 60s}};
    std::shared_ptr<foundation::VirtualScheduler> clock = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<foundation::Scheduler> previous;
    std::shared_ptr<const PropertyListDictionary> currentSettings;
    bool firstInstall = false;
    std::shared_ptr<TLYTallyController> controller;
};

} // namespace

TEST_F(TallyControllerTest, AFlushedEventIsUploadedOnceSettingsArriveAndNothingIsLeft)
{
    startController();
    controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Start Timer", std::nullopt));
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    idle();
    EXPECT_TRUE(server.requests().empty()); // no settings: nothing sent
    EXPECT_EQ(filesWith(".multipartmime").size(), 1u);

    deliverSettings(settingsWith({}));
    ASSERT_TRUE(server.waitForRequests(1, 30s));
    ASSERT_TRUE(waitFor([&] { return filesWith(".multipartmime").empty(); }));
    const auto request = server.requests().at(0);
    EXPECT_TRUE(request.tls);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path(), "/spi/v2/events");
    EXPECT_EQ(request.header("User-Agent"), "Tally Mac SDK/1.3.4");
    EXPECT_EQ(request.header("X-BLACKBOX-DEVELOPER-TOKEN"), "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f");
    EXPECT_EQ(request.header("X-BLACKBOX-API-CLIENT-TYPE"), "Tally Mac SDK");
    EXPECT_EQ(request.header("X-BLACKBOX-API-CLIENT-VERSION"), "26");
    EXPECT_EQ(request.header("X-BLACKBOX-API-CLIENT-DISPLAY-VERSION"), "1.3.4");
    EXPECT_EQ(request.header("X-BLACKBOX-API-CLIENT-BUILD-VERSION"), "26");
    EXPECT_EQ(request.header("X-BLACKBOX-API-KEY"), "api-key");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(request.body.size()));
    const auto stamp = std::stoll(request.header("X-Blackbox-Api-Client-Packaged-Timestamp").value_or("0"));
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_LE(std::llabs(now - stamp), 5);
    const auto parts = testsupport::readMultipartBody(request.body, boundaryOf(request));
    ASSERT_TRUE(parts.parts) << parts.error;
    ASSERT_EQ(parts.parts->size(), 1u);
    const auto disposition = parts.parts->front().header("Content-Disposition").value_or("");
    EXPECT_TRUE(std::regex_search(disposition, std::regex(R"(filename="[0-9A-F-]{36}\.gz")"))) << disposition;
    EXPECT_EQ(parts.parts->front().header("Content-Type"), "application/vnd.blackbox.mac.events");
    const auto names = logNamesOf(request);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "metadata");
    EXPECT_NE(std::find_if(names.begin(), names.end(),
                           [](const std::string& name) { return name.find("Start Timer") != std::string::npos; }),
              names.end());
    EXPECT_EQ(names.back(), "app_became_active");
    EXPECT_TRUE(filesWith(".log").size() <= 1u); // only the new current log may exist
    EXPECT_TRUE(filesWith(".gz").empty());
}

TEST_F(TallyControllerTest, PackagesOfARunWithoutSettingsAreAllSentWhenSettingsArrive)
{
    firstInstall = true; // "app_installed" flushes at once
    startController();
    for (int flush = 0; flush < 3; ++flush) {
        foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationWillResignActiveNotification);
        idle();
    }
    const auto waiting = filesWith(".multipartmime").size();
    EXPECT_EQ(waiting, 4u);
    controller->eventQueue()->waitUntilAllOperationsAreFinished();
    // A later start of the same folder picks them up; its settings send them.
    controller.reset();
    currentSettings = settingsWith({});
    firstInstall = false;
    startController();
    ASSERT_TRUE(server.waitForRequests(waiting, 30s));
    ASSERT_TRUE(waitFor([&] { return filesWith(".multipartmime").empty(); }));
    EXPECT_EQ(server.requests().size(), waiting);
}

// The flush runs just before the settings are applied, so its upload is made (and cancelled) before
// they are valid while its package appears only after they were applied.
TEST_F(TallyControllerTest, ALogRotatedJustBeforeTheSettingsAreAppliedIsSentWithThem)
{
    startController();
    std::promise<void> release;
    controller->eventQueue()->addOperationWithBlock([gate = release.get_future().share()] { gate.wait(); });
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    currentSettings = settingsWith({});
    foundation::NotificationCenter::defaultCenter().post(kits::KSTSettingsAvailableNotification);
    release.set_value();
    idle();
    ASSERT_TRUE(server.waitForRequests(1, 30s));
    ASSERT_TRUE(waitFor([&] { return filesWith(".multipartmime").empty(); }));
    ASSERT_EQ(server.requests().size(), 1u);
    const auto names = logNamesOf(server.requests()[0]);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "app_became_active");
}

TEST_F(TallyControllerTest, DisabledAnalyticsEmptiesTheEventsAndKeepsNothingLater)
{
    startController();
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    idle();
    ASSERT_FALSE(filesWith(".multipartmime").empty());
    PropertyListDictionary features;
    features.set("collect_analytics", foundation::PropertyListValue(false));
    deliverSettings(settingsWith({}, features));
    EXPECT_TRUE(std::filesystem::is_empty(events()));
    controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Later", std::nullopt));
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    idle();
    EXPECT_TRUE(std::filesystem::is_empty(events()));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(TallyControllerTest, SettingsApplyOnceAndAFlushIntervalMakesTheTimer)
{
    startController();
    deliverSettings(settingsWith({}));
    EXPECT_FALSE(controller->flushTimer()); // no "flush_interval_secs": no timer
    PropertyListDictionary other;
    other.set("flush_interval_secs", foundation::PropertyListValue(std::int64_t{300}));
    deliverSettings(settingsWith(other));
    EXPECT_FALSE(controller->flushTimer()); // the first valid settings stay
    EXPECT_FALSE(controller->settings()
                     ->settingsDictionary()
                     ->get<PropertyListDictionary>("analytics")
                     ->contains("flush_interval_secs"));

    controller->eventQueue()->waitUntilAllOperationsAreFinished();
    controller.reset();
    currentSettings = settingsWith(other);
    startController();
    ASSERT_TRUE(controller->flushTimer());
    EXPECT_EQ(controller->flushTimer()->timeInterval(), 300.0);
    EXPECT_EQ(controller->flushTimer()->tolerance(), 30.0);
}

TEST_F(TallyControllerTest, AnEventFindingTheLogOverTheLimitIsWrittenIntoItAndRotates)
{
    startController();
    for (const std::uintmax_t size : {8000u, 8001u}) {
        const auto current = controller->currentLogURL();
        std::filesystem::resize_file(current, size);
        controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Sized", std::nullopt));
        idle();
        if (size == 8000u) {
            EXPECT_EQ(controller->currentLogURL(), current);
            EXPECT_GT(std::filesystem::file_size(current), 8000u);
        } else {
            EXPECT_NE(controller->currentLogURL(), current);
            EXPECT_FALSE(std::filesystem::exists(current)); // compressed, packaged, waiting
        }
        // Next round starts from a fresh log.
        if (size == 8000u) {
            foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
            idle();
            std::ofstream(controller->currentLogURL()) << "";
        }
    }
}

TEST_F(TallyControllerTest, APreviousRunsCrashIsPackagedAloneUnderThatRunsMetadata)
{
    startController();
    controller.reset(); // the first run's metadata is now the previous run's
    currentSettings = settingsWith({});
    startController();
    server.clearRequests();
    controller->logCrashEvent(std::make_shared<kits::TLYCrashEvent>(foundation::Date{}, 0));
    std::vector<std::string> crashLog;
    ASSERT_TRUE(waitFor([&] {
        for (const auto& request : server.requests()) {
            const auto names = logNamesOf(request);
            if (std::any_of(names.begin(), names.end(),
                            [](const auto& name) { return name.starts_with("app_crashed"); }))
                crashLog = names;
        }
        return !crashLog.empty();
    }));
    ASSERT_EQ(crashLog.size(), 2u);
    EXPECT_EQ(crashLog[0], "metadata");
    EXPECT_EQ(crashLog[1],
              R"(app_crashed:{"eventId":")" + crashLog[1].substr(24, 36) + R"(","crash_state":"unknown"})");
}

TEST_F(TallyControllerTest, OfFiveHundredPackagesAtStartTheNewestHundredAreKeptAndAllSent)
{
    std::filesystem::create_directories(events());
    const auto now = std::filesystem::file_time_type::clock::now();
    for (int index = 0; index < 500; ++index) {
        char name[16];
        std::snprintf(name, sizeof name, "PKG-%03d", index);
        const auto file = events() / (std::string(name) + ".multipartmime");
        testsupport::writeFile(file, "--" + std::string(name) + "--\r\n");
        // The higher the number, the newer the file.
        std::filesystem::last_write_time(file, now - std::chrono::minutes(500 - index));
    }
    currentSettings = settingsWith({});
    startController();
    ASSERT_TRUE(waitFor([&] { return filesWith(".multipartmime").empty(); }))
        << filesWith(".multipartmime").size() << " packages left";
    std::set<std::string> sent;
    for (const auto& request : server.requests())
        EXPECT_TRUE(sent.insert(boundaryOf(request)).second) << boundaryOf(request) << " sent twice";
    std::set<std::string> newest;
    for (int index = 400; index < 500; ++index)
        newest.insert("PKG-" + std::to_string(index));
    EXPECT_EQ(sent, newest);
}

TEST_F(TallyControllerTest, AnAlwaysBusyServerGetsTwelveAttemptsAndThePackageIsDropped)
{
    LogCapture log;
    kits::TLYLogger::sharedLogger().setDebugMode(true);
    kits::setKitDebugLogging(true);
    server.setHandler([](const testsupport::RecordedRequest&) {
        return testsupport::ScriptedAnswer{503, "", {}, "", 0ms, testsupport::AnswerFault::none};
    });
    currentSettings = settingsWith({});
    startController();
    controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Busy", std::nullopt));
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    ASSERT_TRUE(server.waitForRequests(1, 30s));
    const std::string name = boundaryOf(server.requests().at(0));
    const bool finished =
        advanceUntil([&] { return log.count("[Tally] Finished transmission of '" + name + "'.") > 0; });
    kits::TLYLogger::sharedLogger().setDebugMode(false);
    kits::setKitDebugLogging(false);
    ASSERT_TRUE(finished);
    idle();
    EXPECT_EQ(server.requests().size(), 12u);
    EXPECT_EQ(log.count("[Tally] Scheduling retry for '" + name + "'."), 11u);
    EXPECT_EQ(log.count("[Tally] Failed to upload '" + name + "': KSTNetworkError -6"), 1u);
    EXPECT_FALSE(std::filesystem::exists(events() / (name + ".multipartmime")));
    const auto delays = clock->requestedDelays();
    ASSERT_EQ(delays.size(), 11u);
    EXPECT_GE(delays[0].count(), 1.79);
    EXPECT_LE(delays[0].count(), 2.21);
    EXPECT_GE(delays[1].count(), 3.59);
    EXPECT_LE(delays[1].count(), 4.41);
}

// Offline, a package outlives its retries: a refused connection and a server that reads the upload
// and closes without answering keep it on disk, and a later start sends it.
TEST_F(TallyControllerTest, PackagesStayThroughFailedConnectionsAndGoAtALaterStart)
{
    LogCapture log;
    kits::TLYLogger::sharedLogger().setDebugMode(true);
    kits::setKitDebugLogging(true);
    // Passes the back-off delays until `count` packages were kept, then ends the run.
    const auto keptAfterRetries = [&](std::size_t count) {
        const bool ended = advanceUntil([&] {
            const auto lines = log.lines();
            return static_cast<std::size_t>(
                       std::count_if(lines.begin(), lines.end(),
                                     [](const std::string& line) { return line.starts_with("[Tally] Keeping '"); }))
                   >= count;
        });
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
        controller.reset();
        return ended;
    };

    // Nobody listening at the events URL.
    const testsupport::ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    currentSettings = settingsAt("https://127.0.0.1:" + std::to_string(closed.port()) + "/spi/v2/events");
    startController();
    controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Offline", std::nullopt));
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    ASSERT_TRUE(keptAfterRetries(1));
    EXPECT_EQ(filesWith(".multipartmime").size(), 1u);
    EXPECT_EQ(clock->requestedDelays().size(), 11u); // retried with back-off before it was kept

    // A server that reads each upload and hangs up without an answer.
    server.setHandler([](const testsupport::RecordedRequest&) {
        return testsupport::ScriptedAnswer{200, "", {}, "", 0ms, testsupport::AnswerFault::closeWithoutAnswer};
    });
    currentSettings = settingsWith({});
    startController();
    ASSERT_TRUE(keptAfterRetries(2));
    EXPECT_EQ(filesWith(".multipartmime").size(), 1u);
    EXPECT_EQ(server.requests().size(), 12u);

    // Reachable at last: sent, with the second run's log, and gone.
    server.clearRequests();
    server.setHandler([](const testsupport::RecordedRequest&) {
        return testsupport::ScriptedAnswer{202, "", {}, "", 0ms, testsupport::AnswerFault::none};
    });
    startController();
    const bool sent = waitFor([&] { return filesWith(".multipartmime").empty() && server.requests().size() >= 2; });
    kits::TLYLogger::sharedLogger().setDebugMode(false);
    kits::setKitDebugLogging(false);
    ASSERT_TRUE(sent);
    idle();
    ASSERT_EQ(server.requests().size(), 2u);
    std::size_t offline = 0;
    for (const auto& request : server.requests()) {
        const auto names = logNamesOf(request);
        offline += std::count_if(names.begin(), names.end(),
                                 [](const std::string& name) { return name.find("Offline") != std::string::npos; });
    }
    EXPECT_EQ(offline, 1u);
}

// An events URL that is not https is refused once, and the packages wait on disk.
TEST_F(TallyControllerTest, AnEventsURLThatIsNotHttpsIsRefusedAndThePackagesWait)
{
    LogCapture log;
    LoopbackServer plain;
    currentSettings = settingsAt(plain.url("/spi/v2/events"));
    firstInstall = true; // "app_installed" flushes at once
    startController();
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    idle();
    EXPECT_EQ(filesWith(".multipartmime").size(), 2u);
    EXPECT_EQ(plain.connectionCount(), 0u);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"[Tally] Refusing the events URL \"" + plain.url("/spi/v2/events")
                                                    + "\" of the settings: the kits send requests over https only; the "
                                                      "events wait on disk"});
}

TEST_F(TallyControllerTest, TheFlushTimerSendsOnlyALogOverTheLimit)
{
    PropertyListDictionary analytics;
    analytics.set("flush_interval_secs", foundation::PropertyListValue(std::int64_t{300}));
    currentSettings = settingsWith(analytics);
    startController();
    ASSERT_TRUE(controller->flushTimer());
    const auto small = controller->currentLogURL();
    controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Small", std::nullopt));
    idle();
    clock->advance(300s);
    idle();
    EXPECT_EQ(controller->currentLogURL(), small); // at or under the limit: it waits
    EXPECT_TRUE(std::filesystem::exists(small));

    // Events until the log passes the limit; none of them finds it over, so none rotates. Each one adds
    // bytes, so more events than the limit has bytes mean they stopped reaching the log.
    int written = 0;
    while (std::filesystem::file_size(small) <= 8000) {
        ASSERT_LE(written, 8000) << "the log stays at " << std::filesystem::file_size(small) << " bytes";
        controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Fill " + std::to_string(written++), std::nullopt));
        idle();
    }
    EXPECT_EQ(controller->currentLogURL(), small);
    EXPECT_TRUE(server.requests().empty());
    clock->advance(300s);
    idle();
    EXPECT_NE(controller->currentLogURL(), small);
    ASSERT_TRUE(server.waitForRequests(1, 30s));
    ASSERT_TRUE(waitFor([&] { return filesWith(".multipartmime").empty(); }));
    ASSERT_EQ(server.requests().size(), 1u);
    const auto parts = testsupport::readMultipartBody(server.requests()[0].body, boundaryOf(server.requests()[0]));
    ASSERT_TRUE(parts.parts && parts.parts->size() == 1u) << parts.error;
    const auto types = customTypesOf(testsupport::gunzip(parts.parts->front().body).bytes.value_or(""));
    ASSERT_EQ(types.size(), static_cast<std::size_t>(written + 1));
    EXPECT_EQ(types.front(), "Small");
    EXPECT_EQ(types.back(), "Fill " + std::to_string(written - 1));
}

TEST_F(TallyControllerTest, ABurstFromFourThreadsIsRecordedWholeAndOnce)
{
    startController();
    constexpr int threads = 4;
    constexpr int perThread = 2500;
    std::vector<std::thread> senders;
    for (int thread = 0; thread < threads; ++thread)
        senders.emplace_back([this, thread] {
            for (int index = 0; index < perThread; ++index)
                controller->logEvent(std::make_shared<kits::TLYCustomEvent>(
                    "burst " + std::to_string(thread) + "." + std::to_string(index), std::nullopt));
        });
    for (auto& sender : senders)
        sender.join();
    // The last, partly filled log goes too.
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
    idle();
    EXPECT_TRUE(filesWith(".log").size() <= 1u);
    EXPECT_TRUE(filesWith(".gz").empty());
    std::map<std::string, int> seen;
    const auto packages = filesWith(".multipartmime");
    // The size is checked before the queued writes have run, so a burst mostly lands in one log.
    EXPECT_FALSE(packages.empty());
    for (const auto& package : packages) {
        const auto log = logOfPackage(package);
        ASSERT_FALSE(log.empty()) << package;
        std::map<int, int> lastOfThread; // a thread's events keep their order
        for (const auto& type : customTypesOf(log)) {
            ++seen[type];
            int thread = 0;
            int index = 0;
            ASSERT_EQ(std::sscanf(type.c_str(), "burst %d.%d", &thread, &index), 2) << type;
            const auto last = lastOfThread.find(thread);
            EXPECT_TRUE(last == lastOfThread.end() || last->second < index) << type << " after " << last->second;
            lastOfThread[thread] = index;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * perThread));
    for (const auto& [type, count] : seen)
        EXPECT_EQ(count, 1) << type;
    for (int thread = 0; thread < threads; ++thread)
        for (int index = 0; index < perThread; ++index)
            ASSERT_TRUE(seen.contains("burst " + std::to_string(thread) + "." + std::to_string(index)))
                << thread << "." << index;
}

TEST_F(TallyControllerTest, SamplingRateTwoFromTheSettingsKeepsOrDropsLifeCycleEventsByInstallation)
{
    struct Case {
        std::optional<std::string> betaToken;
        std::string installationId;
        bool kept;
    };
    PropertyListDictionary analytics;
    analytics.set("sampling_rate", foundation::PropertyListValue(std::int64_t{2}));
    for (const auto& [betaToken, installationId, kept] :
         {Case{std::nullopt, "abc", true}, Case{std::nullopt, "abd", false}, Case{"beta", "abd", true}}) {
        SCOPED_TRACE(installationId + (betaToken ? " with a beta token" : ""));
        currentSettings = settingsWith(analytics);
        startController(betaToken, installationId);
        foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationDidBecomeActiveNotification);
        controller->logEvent(std::make_shared<kits::TLYCustomEvent>("Custom", std::nullopt));
        idle();
        const std::string log = testsupport::readFile(controller->currentLogURL());
        EXPECT_EQ(customTypesOf(log), std::vector<std::string>{"Custom"}); // never sampled
        if (kept) {
            // "app_became_active" flushes: its log is sent and ends with it.
            ASSERT_TRUE(server.waitForRequests(1, 30s));
            ASSERT_TRUE(waitFor([&] { return filesWith(".multipartmime").empty(); }));
            ASSERT_EQ(server.requests().size(), 1u);
            EXPECT_EQ(logNamesOf(server.requests()[0]).back(), "app_became_active");
        } else {
            EXPECT_TRUE(server.requests().empty());
            EXPECT_EQ(log.find("app_became_active"), std::string::npos);
            EXPECT_NE(log.find("app_launched"), std::string::npos); // written before the settings applied
        }
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
        controller.reset();
        std::filesystem::remove_all(events());
        server.clearRequests();
    }
}

TEST(TLYEventFilterTest, SamplingKeepsOrDropsAnInstallationsLifeCycleEventsByItsHash)
{
    const kits::TLYEventFilter filter;
    EXPECT_EQ(kits::TLYEventFilter::javaHashCodeForString("abc"), 96354);
    EXPECT_EQ(kits::TLYEventFilter::javaHashCodeForString(""), 0);
    // Wraps in 32 bits: "polygenelubricants" is the classic minimum value.
    EXPECT_EQ(kits::TLYEventFilter::javaHashCodeForString("polygenelubricants"), INT32_MIN);
    // "é" is one UTF-16 unit (233), "😀" two (55357, 56832).
    EXPECT_EQ(kits::TLYEventFilter::javaHashCodeForString("\xC3\xA9"), 233);
    EXPECT_EQ(kits::TLYEventFilter::javaHashCodeForString("\xF0\x9F\x98\x80"), 55357 * 31 + 56832);
    const kits::TLYLifecycleEvent active("app_became_active");
    const kits::TLYCustomEvent custom("Custom", std::nullopt);
    EXPECT_FALSE(filter.shouldDiscardEvent(&active, std::nullopt, "abc", 2)); // 96354 is even
    EXPECT_TRUE(filter.shouldDiscardEvent(&active, std::nullopt, "abd", 2));  // 96355 is odd
    EXPECT_FALSE(filter.shouldDiscardEvent(&custom, std::nullopt, "abd", 2));
    EXPECT_FALSE(filter.shouldDiscardEvent(&active, std::string("beta"), "abd", 2));
    EXPECT_FALSE(filter.shouldDiscardEvent(&active, std::nullopt, "abd", 1));
    EXPECT_FALSE(filter.shouldDiscardEvent(&active, std::nullopt, "abd", -3));
    EXPECT_FALSE(filter.shouldDiscardEvent(&active, std::nullopt, std::nullopt, 2));
    EXPECT_TRUE(filter.shouldDiscardEvent(nullptr, std::nullopt, "abc", 1));
}

TEST(TLYSettingsTest, ValuesComeFromTheDictionaryWithTheirDefaults)
{
    const kits::TLYSettings none;
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(none.tallyURL()); // no endpoint built in
    EXPECT_TRUE(none.shouldCollectAnalytics());
    EXPECT_EQ(none.maximumPayloadSize(), 8000);
    EXPECT_EQ(none.maxPendingSendFiles(), 100);
    EXPECT_EQ(none.flushInterval(), 0.0);
    EXPECT_EQ(none.samplingRate(), 1);
    EXPECT_EQ(none.defaultUploadTimeout(), 21600.0);
    EXPECT_EQ(none.lowPowerUploadTimeout(), 3600.0);
    PropertyListDictionary analytics;
    analytics.set("sampling_rate", foundation::PropertyListValue(2.9));
    analytics.set("max_byte_size_per_file", foundation::PropertyListValue("not a number"));
    analytics.set("flush_interval_secs", foundation::PropertyListValue(std::int64_t{300}));
    analytics.set("url", foundation::PropertyListValue("https://h.test/spi/v2/events"));
    PropertyListDictionary features;
    features.set("collect_analytics", foundation::PropertyListValue(std::int64_t{0}));
    PropertyListDictionary all;
    all.set("analytics", foundation::PropertyListValue(analytics));
    all.set("features", foundation::PropertyListValue(features));
    const kits::TLYSettings some(std::make_shared<const PropertyListDictionary>(all));
    EXPECT_TRUE(some.valid());
    EXPECT_EQ(some.samplingRate(), 2);
    EXPECT_EQ(some.maximumPayloadSize(), 8000);
    EXPECT_EQ(some.flushInterval(), 300.0);
    EXPECT_FALSE(some.shouldCollectAnalytics());
    EXPECT_EQ(some.tallyURL(), "https://h.test/spi/v2/events");
}
