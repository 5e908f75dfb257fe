// Submission: a crash directory processed, packaged and uploaded to an HTTPS loopback server (its root
// pinned through the test hook) named through the environment's reports endpoint; the request's
// headers and body; the server's answers (client error, an accepted answer of any content type, rate
// limit and retry), connection failures retried with back-off; packages that are empty, missing or
// not sent because the server never answers; pinning on every path; and the task descriptions.
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_network_client.h"
#include "kits/crash/bbx_package_report_operation.h"
#include "kits/crash/bbx_reports_controller.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_certificate.h"
#include "kits/platform/kst_network_response_handler.h"

#include "foundation/main_bundle.h"
#include "foundation/operation_queue.h"
#include "foundation/scheduler.h"
#include "net/url_error.h"
#include "support/file_contents.h"
#include "support/hooks/default_trust_store_hook.h"
#include "support/hooks/pinned_certificates_hook.h"
#include "support/loopback_server.h"
#include "support/multipart_reader.h"
#include "support/scoped_environment.h"
#include "support/suite_certificates.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;
using foundation::MainBundle;
using kits::BBXNetworkClient;
using kits::BBXReportsController;
using testsupport::LoopbackServer;
using testsupport::ScriptedAnswer;
using Clock = std::chrono::steady_clock;

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char* reportsPath = "/sdk-api/v1/platforms/mac/apps/org.example.app/reports";

ScriptedAnswer jsonAnswer(int status)
{
    return {status, {}, {{"Content-Type", "application/json"}}, "{}"};
}

// Both delegates, as the crash reporting controller is: an upload's end goes to the controller,
// whose completions are recorded here.
class Pipeline final : public kits::BBXReportsControllerDelegate, public kits::BBXNetworkClientDelegate {
public:
    struct Completion {
        std::string path;
        std::optional<foundation::Error> error;
    };

    bool networkClientCanUseBackgroundSessions(BBXNetworkClient&) override { return true; }
    void networkClientDidFinishUploadWithPath(BBXNetworkClient&, const std::string& path,
                                              const std::optional<foundation::Error>& error) override
    {
        if (const auto reports = controller.lock())
            reports->reportUploadAtPathCompletedWithError(path, error);
    }
    void reportsControllerDidCompletePackageSubmission(BBXReportsController&, const std::string& path,
                                                       const std::optional<foundation::Error>& error) override
    {
        std::lock_guard lock(mutex);
        completions.push_back({path, error});
        changed.notify_all();
    }
    void reportsControllerDidCompleteAllSubmissions(BBXReportsController&) override {}
    kits::BBXSettings settingsForReportsController(BBXReportsController&) override
    {
        return kits::BBXSettings(settings);
    }
    std::optional<std::string> APIKeyForReportsController(BBXReportsController&) override { return "k3y"; }
    std::string bundleIdentifierForReportsController(BBXReportsController&) override { return "org.example.app"; }

    // The completions once there are `count`, waiting at most `limit`.
    std::vector<Completion> waitForCompletions(std::size_t count,
                                               std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, limit, [&] { return completions.size() >= count; });
        return completions;
    }

    std::weak_ptr<BBXReportsController> controller;
    std::optional<foundation::PropertyListDictionary> settings;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Completion> completions;
};

class BBXReportsControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("bbx-reports-certs"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        // The client's pinner is made with the client.
        kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
            kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
        MainBundle::setCachesDirectory(folder.path());
        MainBundle::setInfoDictionary(foundation::PropertyListDictionary{{"CFBundleIdentifier", "org.example.app"}});
        kits::setKitLogSink([this](std::string_view line) {
            std::lock_guard lock(logMutex);
            logged += std::string(line) + "\n";
        });
        fileManager = std::make_shared<kits::BBXFileManager>();
        ASSERT_TRUE(fileManager->prepareForNewLaunch());
        client = BBXNetworkClient::initWithQueue(queue, fileManager, pipeline);
        controller = std::make_shared<BBXReportsController>(queue, pipeline, client, fileManager);
        pipeline->controller = controller;
    }
    void TearDown() override
    {
        server.stop();
        queue->waitUntilAllOperationsAreFinished();
        kits::setKitLogSink({});
        kits::setKitDebugLogging(false);
        kits::testhooks::setPinnedCertificates(std::nullopt);
        net::testhooks::setDefaultTrustStoreFile(std::nullopt);
        foundation::setScheduler(nullptr);
        MainBundle::setCachesDirectory(std::nullopt);
        MainBundle::setInfoDictionary(nullptr);
    }
    // A client and controller made now, with the pins set at this point.
    void remakeClient()
    {
        client = BBXNetworkClient::initWithQueue(queue, fileManager, pipeline);
        controller = std::make_shared<BBXReportsController>(queue, pipeline, client, fileManager);
        pipeline->controller = controller;
    }

    // A launch's directory in "active" with a crash file and a log.
    std::shared_ptr<kits::BBXInternalReport> activeReport()
    {
        const fs::path directory = fs::path(fileManager->activePath()) / "E1";
        fs::create_directories(directory);
        writeFile(directory / "metadata.bbxrecord", R"({"identity":{"api_key":"k3y","session_id":"S-1"}})"
                                                    "\n");
        writeFile(directory / "signal.bbxrecord", R"({"signal":{"number":11}})"
                                                  "\n");
        writeFile(directory / "sdk.log", std::string(3000, 'x'));
        return kits::BBXInternalReport::reportWithPath(directory.string());
    }
    // A packaged report in "prepared".
    std::string package()
    {
        auto report = activeReport();
        auto operation = std::make_shared<kits::BBXPackageReportOperation>(report, fileManager);
        operation->start();
        fs::remove_all(report->path());
        return operation->finalPath().value_or("");
    }
    std::string log()
    {
        std::lock_guard lock(logMutex);
        return logged;
    }

    static inline testsupport::SuiteCertificates certificates;
    testsupport::TempFolder folder{"bbx-reports"};
    LoopbackServer server{{&certificates->leafA, {}, std::chrono::seconds(120)}};
    testsupport::ScopedEnvironment environment{{"BlackboxReportsEndpoint", server.url("")}};
    std::shared_ptr<foundation::OperationQueue> queue = std::make_shared<foundation::OperationQueue>(1);
    std::shared_ptr<Pipeline> pipeline = std::make_shared<Pipeline>();
    std::shared_ptr<kits::BBXFileManager> fileManager;
    std::shared_ptr<BBXNetworkClient> client;
    std::shared_ptr<BBXReportsController> controller;
    std::mutex logMutex;
    std::string logged;
};

TEST_F(BBXReportsControllerTest, UploadsAPackageWithTheKitsHeadersInOrderAndRemovesIt)
{
    const std::string path = package();
    ASSERT_FALSE(path.empty());
    const std::string body = readFile(path);
    const std::string boundary = fs::path(path).stem().string();
    server.script("POST", reportsPath, jsonAnswer(200));

    ASSERT_TRUE(controller->uploadPackagedReportAtPath(path, false));
    const auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].path, path);
    EXPECT_FALSE(completions[0].error);
    EXPECT_FALSE(fs::exists(path));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, reportsPath);
    EXPECT_EQ(requests[0].body, body);
    const std::string locale = kits::BBXReportsController::localeIdentifier();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"User-Agent", "Blackbox Mac SDK/3.8.4"},
        {"Accept", "application/json"},
        {"Accept-Charset", "utf-8"},
        {"Accept-Language", locale},
        {"Content-Language", locale},
        {"X-Blackbox-Developer-Token", "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f"},
        {"X-Blackbox-API-Client-Id", "com.mirrowick.blackbox.mac"},
        {"X-Blackbox-API-Client-Display-Version", "3.8.4"},
        {"X-Blackbox-API-Client-Build-Version", "121"},
        {"X-Blackbox-API-Key", "k3y"},
        {"Content-Type", "multipart/form-data; boundary=" + boundary},
        {"Content-Length", std::to_string(body.size())},
    };
    // The kit's own headers in their order; transport headers (Host, Expect, ...) aside.
    std::vector<std::pair<std::string, std::string>> own;
    for (const auto& header : requests[0].headers) {
        for (const auto& wanted : expected) {
            if (net::headerNamesEqual(header.first, wanted.first))
                own.push_back(header);
        }
    }
    EXPECT_EQ(own, expected);
}

TEST_F(BBXReportsControllerTest, ProcessesPackagesAndSubmitsACrashDirectory)
{
    server.script("POST", reportsPath, jsonAnswer(200));
    auto report = activeReport();
    const std::string active = report->path();
    ASSERT_TRUE(controller->prepareAndSubmitReport(report, false, true));
    const auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_FALSE(completions[0].error);
    EXPECT_FALSE(fs::exists(active));
    EXPECT_TRUE(fileManager->processingPathContents().empty());
    EXPECT_TRUE(fileManager->preparedPathContents().empty());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto form = testsupport::readMultipartBody(
        requests[0].body, testsupport::boundaryOf(requests[0].header("Content-Type").value_or("")));
    ASSERT_TRUE(form.parts) << form.error;
    EXPECT_EQ(form.parts->at(1).body, "S-1");
    EXPECT_NE(log().find("[Blackbox:Crash:Reports] Packaged report with id 'S-1' for submission"), std::string::npos);
}

TEST_F(BBXReportsControllerTest, FailedAnswersKeepThePackage)
{
    const std::string first = package();
    server.script("POST", reportsPath, jsonAnswer(400));
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(first, false));
    auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    ASSERT_TRUE(completions[0].error);
    EXPECT_EQ(completions[0].error->domain, kits::KSTNetworkErrorDomain);
    EXPECT_EQ(completions[0].error->code, kits::KSTNetworkErrorClient);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_EQ(server.requests().size(), 1u);
}

// A success status delivers the report whatever type the answer names; only a type that is not the
// one asked for is told, once per report.
TEST_F(BBXReportsControllerTest, AnAcceptedReportIsDeliveredWhateverItsAnswersContentType)
{
    const std::vector<ScriptedAnswer> answers{
        {200, {}, {{"Content-Type", "application/json; charset=utf-8"}}, "{}"},
        {200, {}, {{"Content-Type", "application/json;charset=\"UTF-8\""}}, "{}"},
        {202, {}, {}, ""},
        {200, {}, {{"Content-Type", "text/html"}}, "<p>ok</p>"},
    };
    for (std::size_t index = 0; index < answers.size(); ++index) {
        const std::string path = package();
        server.script("POST", reportsPath, answers[index]);
        ASSERT_TRUE(controller->uploadPackagedReportAtPath(path, false));
        const auto completions = pipeline->waitForCompletions(index + 1);
        ASSERT_EQ(completions.size(), index + 1);
        EXPECT_FALSE(completions[index].error) << index;
        EXPECT_FALSE(fs::exists(path)) << index;
    }
    EXPECT_EQ(server.requests().size(), answers.size());
    const std::string lines = log();
    const std::string told = "[Blackbox:Crash:Client] The reports service accepted ";
    std::size_t count = 0;
    for (auto at = lines.find(told); at != std::string::npos; at = lines.find(told, at + 1))
        ++count;
    EXPECT_EQ(count, 2u) << lines;
    EXPECT_NE(lines.find("with status 202 and content type \"\"; it counts as delivered"), std::string::npos);
    EXPECT_NE(lines.find("with status 200 and content type \"text/html\"; it counts as delivered"), std::string::npos);
}

// Refused, reset or closed before an answer: the upload runs again after a back-off that grows, and
// the report is removed only once the service accepted it.
TEST_F(BBXReportsControllerTest, ConnectionFailuresRestartTheUploadAfterAGrowingBackOff)
{
    const auto clock = std::make_shared<foundation::VirtualScheduler>();
    foundation::setScheduler(clock);
    const std::string path = package();
    for (const auto fault : {testsupport::AnswerFault::closeWithoutAnswer, testsupport::AnswerFault::reset,
                             testsupport::AnswerFault::closeWithoutAnswer})
        server.script("POST", reportsPath, {200, {}, {}, "", std::chrono::milliseconds(0), fault});
    server.script("POST", reportsPath, jsonAnswer(200));
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(path, false));
    std::size_t passed = 0;
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (pipeline->completions.size() < 1 && Clock::now() < end) {
        const auto delays = clock->requestedDelays();
        for (; passed < delays.size(); ++passed)
            clock->advance(delays[passed]);
        pipeline->waitForCompletions(1, std::chrono::milliseconds(10));
    }
    const auto completions = pipeline->waitForCompletions(1, std::chrono::milliseconds(0));
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_FALSE(completions[0].error);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(server.requests().size(), 4u);
    const auto delays = clock->requestedDelays();
    ASSERT_EQ(delays.size(), 3u);
    for (const auto& [delay, base] : {std::pair{delays[0], 2.0}, {delays[1], 2.0}, {delays[2], 4.0}}) {
        EXPECT_GE(delay.count(), base * 0.89);
        EXPECT_LE(delay.count(), base * 1.11);
    }
}

TEST_F(BBXReportsControllerTest, ARateLimitedUploadRunsAgainAfterTheServersDelay)
{
    const std::string path = package();
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    server.setHandler([&](const testsupport::RecordedRequest&) {
        std::lock_guard lock(mutex);
        arrivals.push_back(Clock::now());
        if (arrivals.size() == 1)
            return ScriptedAnswer{429, {}, {{"Retry-After", "1"}, {"Content-Type", "application/json"}}, "{}"};
        return jsonAnswer(200);
    });
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(path, false));
    const auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_FALSE(completions[0].error);
    EXPECT_FALSE(fs::exists(path));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, requests[1].body);
    EXPECT_EQ(requests[0].headers, requests[1].headers);
    std::lock_guard lock(mutex);
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_GE(arrivals[1] - arrivals[0], std::chrono::seconds(1));
}

TEST_F(BBXReportsControllerTest, EmptyAndMissingPackagesAreNotSent)
{
    const fs::path empty = fs::path(fileManager->preparedPath()) / "0A0A0A0A-0A0A-0A0A-0A0A-0A0A0A0A0A0A.multipartmime";
    writeFile(empty, "");
    EXPECT_FALSE(controller->submitPackageMultipartMimeAtPath(empty.string(), false));
    EXPECT_FALSE(controller->submitPackageMultipartMimeAtPath(empty.string(), true));

    // Gone between the controller's look and the upload: the client reports it with its path.
    const std::string missing = (fs::path(fileManager->preparedPath()) / "gone.multipartmime").string();
    client->startUploadRequest(controller->mutableRequestWithURL(*controller->reportURL(), 10.0), missing, false);
    const auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].path, missing);
    ASSERT_TRUE(completions[0].error);
    EXPECT_EQ(completions[0].error->domain, kits::BBXNetworkErrorDomain);
    EXPECT_EQ(completions[0].error->code, -2);
    const auto* where = completions[0].error->userInfo.get<std::string>("path");
    ASSERT_TRUE(where);
    EXPECT_EQ(*where, missing);
    EXPECT_FALSE(server.waitForRequests(1, std::chrono::milliseconds(200)));
}

TEST_F(BBXReportsControllerTest, AnUploadAlreadyRunningIsNotStartedAgain)
{
    const std::string path = package();
    server.script("POST", reportsPath, [] {
        auto answer = jsonAnswer(200);
        answer.delay = std::chrono::milliseconds(800);
        return answer;
    }());
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(path, false));
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(path, false));
    const auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(BBXReportsControllerTest, SynchronousUploadsAreBoundedAndOnlySuccessIsReported)
{
    const std::string stalled = package();
    server.script("POST", reportsPath, [] {
        auto answer = jsonAnswer(200);
        answer.delay = std::chrono::seconds(20);
        return answer;
    }());
    const auto start = Clock::now();
    EXPECT_TRUE(controller->uploadPackagedReportAtPath(stalled, true));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(fs::exists(stalled));
    EXPECT_TRUE(pipeline->completions.empty());

    server.script("POST", reportsPath, jsonAnswer(200));
    EXPECT_TRUE(controller->uploadPackagedReportAtPath(stalled, true));
    const auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_FALSE(completions[0].error);
    EXPECT_FALSE(fs::exists(stalled));
}

TEST_F(BBXReportsControllerTest, WithoutAnEndpointOrWithSubmissionOffThePackageStays)
{
    const std::string path = package();
    {
        testsupport::ScopedEnvironment noEndpoint{{"BlackboxReportsEndpoint", std::nullopt}};
        EXPECT_FALSE(controller->reportURL());
        EXPECT_FALSE(controller->uploadPackagedReportAtPath(path, false));
    }
    pipeline->settings = foundation::PropertyListDictionary{};
    testsupport::ScopedEnvironment off{{"BlackboxSubmitReports", "NO"}};
    EXPECT_FALSE(controller->uploadPackagedReportAtPath(path, false));
    EXPECT_NE(log().find("[Blackbox:Crash:Reports] Submission disabled"), std::string::npos);
    EXPECT_FALSE(server.waitForRequests(1, std::chrono::milliseconds(200)));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(BBXReportsControllerTest, EveryUploadPathIsPinnedDebugModeIncluded)
{
    server.setHandler([](const testsupport::RecordedRequest&) { return jsonAnswer(200); });
    // Pinned to root B, which did not sign the server's certificate; the default trust store holds A.
    kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
        kits::KSTCreateCertificate(certificates->rootB.der.data(), certificates->rootB.der.size())});
    net::testhooks::setDefaultTrustStoreFile(certificates->rootA.certificatePEM.string());
    remakeClient();

    const std::string refused = package();
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(refused, false));
    auto completions = pipeline->waitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    ASSERT_TRUE(completions[0].error);
    EXPECT_EQ(completions[0].error->code, net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(fs::exists(refused));

    // Urgent: the synchronous request refuses the server too; nothing is reported, the package stays.
    EXPECT_TRUE(controller->uploadPackagedReportAtPath(refused, true));
    EXPECT_EQ(pipeline->waitForCompletions(2, std::chrono::milliseconds(200)).size(), 1u);
    EXPECT_TRUE(fs::exists(refused));

    // Debug mode changes the log only.
    kits::setKitDebugLogging(true);
    ASSERT_TRUE(controller->uploadPackagedReportAtPath(refused, false));
    completions = pipeline->waitForCompletions(2);
    ASSERT_EQ(completions.size(), 2u);
    ASSERT_TRUE(completions[1].error);
    EXPECT_EQ(completions[1].error->code, net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(fs::exists(refused));

    // Pinned to A: the urgent path sends it.
    kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
        kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
    remakeClient();
    EXPECT_TRUE(controller->uploadPackagedReportAtPath(refused, true));
    completions = pipeline->waitForCompletions(3);
    ASSERT_EQ(completions.size(), 3u);
    EXPECT_FALSE(completions[2].error);
    EXPECT_FALSE(fs::exists(refused));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(BBXReportsControllerTest, TaskDescriptionsArePathsUnderTheRoot)
{
    const std::string root = client->rootPath();
    EXPECT_EQ(root, fileManager->rootPath());
    EXPECT_EQ(client->relativeTaskPathForAbsolutePath(root + "/v3/prepared/B.multipartmime"),
              "v3/prepared/B.multipartmime");
    EXPECT_EQ(client->absolutePathForRelativeTaskPath("v3/prepared/B.multipartmime"),
              root + "/v3/prepared/B.multipartmime");
    EXPECT_FALSE(client->relativeTaskPathForAbsolutePath("/elsewhere/B.multipartmime"));
    EXPECT_FALSE(client->relativeTaskPathForAbsolutePath(root + "x/B.multipartmime"));
    EXPECT_FALSE(client->supportsBackgroundRequests());
}

} // namespace
