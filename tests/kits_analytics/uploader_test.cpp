// The event uploader against the HTTPS loopback server (its root pinned through the test hook): the
// upload request and its headers, one task per name, files that are missing or unreadable, retries on
// the virtual scheduler until -6 with their back-off delays, server trust through the pinned roots in
// and outside debug mode, and hostile upload answers through the retry handler.
#include "kits/analytics/tly_backoff_timer.h"
#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_network_retry_handler.h"
#include "kits/analytics/tly_upload_operation.h"
#include "kits/analytics/tly_uploader.h"

#include "foundation/operation_queue.h"
#include "foundation/scheduler.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_network_retry_delay.h"
#include "net/url_error.h"

#include "hooks/default_trust_store_hook.h"
#include "hooks/pinned_certificates_hook.h"
#include "log_capture.h"
#include "loopback_server.h"
#include "mutator.h"
#include "suite_certificates.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using kits::TLYBackoffTimer;
using kits::TLYNetworkRetryHandler;
using kits::TLYUploader;
using kits::TLYUploadOperation;
using testsupport::AnswerFault;
using testsupport::LoopbackServer;
using testsupport::ScriptedAnswer;

namespace {

struct Finished {
    std::string uniqueName;
    std::optional<foundation::Error> error;
};

// The controller's part in an upload: file paths in a folder, retry decisions from the retry handler,
// finished uploads recorded.
class RecordingDelegate final : public kits::TLYUploaderDelegate {
public:
    explicit RecordingDelegate(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::string uploaderFilePathForUniqueName(TLYUploader&, const std::string& uniqueName) override
    {
        return (folder_ / (uniqueName + ".multipartmime")).string();
    }
    void uploaderDidFinishUploadWithUniqueName(TLYUploader&, const std::string& uniqueName,
                                               const std::optional<foundation::Error>& error) override
    {
        std::lock_guard lock(mutex_);
        finished_.push_back({uniqueName, error});
        changed_.notify_all();
    }
    void uploaderCompletedRequest(TLYUploader&, const net::URLRequest& request,
                                  const std::optional<net::HTTPURLResponse>& response, const std::string& uniqueName,
                                  const std::optional<foundation::Error>& error,
                                  CompletionHandler completionHandler) override
    {
        {
            std::lock_guard lock(mutex_);
            ++completedTasks_;
        }
        retryHandler.handleCompletedRequest(request, response ? &*response : nullptr, uniqueName, error,
                                            std::move(completionHandler));
    }
    net::ChallengeDisposition uploaderSessionDidReceiveChallenge(TLYUploader&, net::URLSession&,
                                                                 const net::ServerTrust& trust) override
    {
        return retryHandler.handleChallenge(trust);
    }

    std::vector<Finished> waitForFinished(std::size_t count, std::chrono::milliseconds limit = 30s)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return finished_.size() >= count; });
        return finished_;
    }
    std::size_t completedTasks() const
    {
        std::lock_guard lock(mutex_);
        return completedTasks_;
    }

    TLYNetworkRetryHandler retryHandler;

private:
    const std::filesystem::path folder_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Finished> finished_;
    std::size_t completedTasks_ = 0;
};

class UploaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("horavine-uploader-certs"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        previous = foundation::scheduler();
        foundation::setScheduler(clock);
        kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
            kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
        kits::TLYLogger::sharedLogger().setDebugMode(true);
        delegate = std::make_shared<RecordingDelegate>(folder.path());
        uploader = TLYUploader::initWithQueue(queue, delegate);
    }
    void TearDown() override
    {
        uploader.reset();
        queue->waitUntilAllOperationsAreFinished();
        foundation::setScheduler(previous);
        kits::TLYLogger::sharedLogger().setDebugMode(false);
        kits::setKitDebugLogging(false);
        kits::testhooks::setPinnedCertificates(std::nullopt);
        net::testhooks::setDefaultTrustStoreFile(std::nullopt);
    }

    // A packaged file of that boundary with a small multipart body.
    std::string packagedFile(const std::string& boundary, const std::string& body = "--x\r\n\r\nevents\r\n--x--\r\n")
    {
        const auto path = folder.path() / (boundary + ".multipartmime");
        std::ofstream(path, std::ios::binary) << body;
        return path.string();
    }

    std::shared_ptr<TLYUploadOperation> operationFor(const std::string& url, const std::string& boundary)
    {
        return std::make_shared<TLYUploadOperation>(uploader, url, "the-api-key", packagedFile(boundary), boundary);
    }

    // Passes each delay the scheduler is asked for until `finished` uploads are over.
    std::vector<Finished> runUntilFinished(std::size_t finished)
    {
        std::size_t passed = 0;
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < end) {
            const auto done = delegate->waitForFinished(finished, 10ms);
            if (done.size() >= finished)
                return done;
            const auto delays = clock->requestedDelays();
            for (; passed < delays.size(); ++passed)
                clock->advance(delays[passed]);
        }
        return delegate->waitForFinished(finished, 0ms);
    }

    static inline testsupport::SuiteCertificates certificates;
    testsupport::TempFolder folder{"horavine-uploader"};
    LoopbackServer server{testsupport::LoopbackServerOptions{&certificates->leafA, {}, 60s}};
    std::shared_ptr<foundation::VirtualScheduler> clock = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<foundation::Scheduler> previous;
    std::shared_ptr<foundation::OperationQueue> queue = std::make_shared<foundation::OperationQueue>(1);
    std::shared_ptr<RecordingDelegate> delegate;
    std::shared_ptr<TLYUploader> uploader;
};

ScriptedAnswer answer(int status, std::vector<std::pair<std::string, std::string>> headers = {},
                      std::chrono::milliseconds delay = 0ms)
{
    return ScriptedAnswer{status, "", std::move(headers), "", delay, AnswerFault::none};
}

std::string textOf(const foundation::PropertyListDictionary& info, std::string_view key)
{
    const auto* text = info.get<std::string>(key);
    return text ? *text : "<missing>";
}

} // namespace

TEST_F(UploaderTest, TheRequestCarriesTheFileAndTheClientHeadersInOrder)
{
    const auto operation = operationFor("https://events.test/spi/v2/events", "B0UNDARY");
    const auto request = operation->uploadRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->url, "https://events.test/spi/v2/events");
    EXPECT_EQ(request->httpMethod, "POST");
    EXPECT_EQ(operation->uniqueName(), "B0UNDARY");
    std::vector<std::string> names;
    for (const auto& [name, value] : request->headerFields.fields())
        names.push_back(name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Content-Type", "Content-Length", "User-Agent", "X-BLACKBOX-DEVELOPER-TOKEN",
                                        "X-BLACKBOX-API-CLIENT-TYPE", "X-BLACKBOX-API-CLIENT-VERSION",
                                        "X-BLACKBOX-API-CLIENT-DISPLAY-VERSION", "X-BLACKBOX-API-CLIENT-BUILD-VERSION",
                                        "X-BLACKBOX-API-KEY", "X-Blackbox-Api-Client-Packaged-Timestamp"}));
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=B0UNDARY");
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"),
              std::to_string(std::filesystem::file_size(operation->multipartURL())));
    EXPECT_EQ(request->valueForHTTPHeaderField("User-Agent"), "Tally Mac SDK/1.3.4");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-BLACKBOX-DEVELOPER-TOKEN"),
              "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-BLACKBOX-API-CLIENT-TYPE"), "Tally Mac SDK");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-BLACKBOX-API-CLIENT-VERSION"), "26");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-BLACKBOX-API-CLIENT-DISPLAY-VERSION"), "1.3.4");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-BLACKBOX-API-CLIENT-BUILD-VERSION"), "26");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-BLACKBOX-API-KEY"), "the-api-key");
    const auto stamp = std::stoll(*request->valueForHTTPHeaderField("X-Blackbox-Api-Client-Packaged-Timestamp"));
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_LE(std::llabs(now - stamp), 5);

    // A file gone before its request is built has length "0"; no endpoint, no request.
    std::filesystem::remove(operation->multipartURL());
    EXPECT_EQ(operation->uploadRequest()->valueForHTTPHeaderField("Content-Length"), "0");
    EXPECT_FALSE(
        TLYUploadOperation(uploader, std::nullopt, "key", operation->multipartURL(), "B0UNDARY").uploadRequest());
}

TEST_F(UploaderTest, AnUploadPostsTheFileOnceAndFinishesWithoutError)
{
    LogCapture log;
    server.script("POST", "/spi/v2/events", answer(202));
    const auto operation = operationFor(server.url("/spi/v2/events"), "AAAA-1");
    queue->addOperation(operation);
    const auto finished = runUntilFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].uniqueName, "AAAA-1");
    EXPECT_FALSE(finished[0].error);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "--x\r\n\r\nevents\r\n--x--\r\n");
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(requests[0].body.size()));
    EXPECT_EQ(requests[0].header("X-BLACKBOX-API-KEY"), "the-api-key");
    EXPECT_EQ(requests[0].header("User-Agent"), "Tally Mac SDK/1.3.4");
    EXPECT_EQ(log.count("[Tally] Transmitting packaged events for 'AAAA-1'."), 1u);
}

TEST_F(UploaderTest, ASecondUploadOfANameWithALiveTaskIsSkipped)
{
    LogCapture log;
    server.script("POST", "/slow", answer(200, {}, 1500ms));
    const auto path = packagedFile("SAME");
    net::URLRequest request(server.url("/slow"));
    request.httpMethod = "POST";
    uploader->startUploadRequest(request, path, "SAME");
    ASSERT_TRUE(server.waitForRequests(1, 20s));
    uploader->startUploadRequest(request, path, "SAME");
    const auto finished = runUntilFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0].error);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.count("[Tally:TLYUploader] A task currently exists for 'SAME', skipping"), 1u);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(delegate->completedTasks(), 1u);
}

// Both checks run before either task exists, and the second upload comes while the first waits for
// its retry: each time one POST is under way for the name, and its result stands.
TEST_F(UploaderTest, AnUploadOfANameUnderWayIsSkippedBeforeItsTaskAndDuringItsBackOff)
{
    LogCapture log;
    kits::TLYLogger::sharedLogger().setDebugMode(true);
    server.script("POST", "/e", answer(202));
    const auto path = packagedFile("TWICE");
    net::URLRequest request(server.url("/e"));
    request.httpMethod = "POST";
    queue->addOperationWithBlock([&] {
        uploader->startUploadRequest(request, path, "TWICE");
        uploader->startUploadRequest(request, path, "TWICE");
    });
    auto finished = runUntilFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0].error);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(log.count("[Tally:TLYUploader] A task currently exists for 'TWICE', skipping"), 1u);

    server.clearRequests();
    server.script("POST", "/busy", answer(503));
    server.script("POST", "/busy", answer(202));
    net::URLRequest busy(server.url("/busy"));
    busy.httpMethod = "POST";
    const auto later = packagedFile("LATER");
    uploader->startUploadRequest(busy, later, "LATER");
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (clock->requestedDelays().empty() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(clock->requestedDelays().size(), 1u); // the 503 waits for its retry
    uploader->startUploadRequest(busy, later, "LATER");
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.count("[Tally:TLYUploader] A task currently exists for 'LATER', skipping"), 1u);
    finished = runUntilFinished(2);
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[1].uniqueName, "LATER");
    EXPECT_FALSE(finished[1].error);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(server.requests().size(), 2u); // the 503 and its retry
    EXPECT_EQ(delegate->completedTasks(), 3u);
}

TEST_F(UploaderTest, MissingFilesAndNamesFinishAtOnceWithTheirErrors)
{
    net::URLRequest request("http://127.0.0.1:9/never");
    uploader->startUploadRequest(request, (folder.path() / "gone.multipartmime").string(), "gone");
    uploader->startUploadRequest(request, "", "no-path");
    uploader->startUploadRequest(std::nullopt, packagedFile("no-request"), "no-request");
    const auto unreadable = packagedFile("unreadable");
    std::filesystem::permissions(unreadable, std::filesystem::perms::none);
    const bool canStillRead = ::access(unreadable.c_str(), R_OK) == 0; // root reads everything
    uploader->startUploadRequest(request, unreadable, "unreadable");
    const auto finished = runUntilFinished(4);
    ASSERT_EQ(finished.size(), 4u);
    std::map<std::string, foundation::Error> errors;
    for (const auto& [name, error] : finished) {
        ASSERT_TRUE(error) << name;
        errors[name] = *error;
    }
    EXPECT_EQ(errors["gone"].domain, "KSTNetworkError");
    EXPECT_EQ(errors["gone"].code, -8);
    EXPECT_EQ(textOf(errors["gone"].userInfo, "NSFilePath"), (folder.path() / "gone.multipartmime").string());
    EXPECT_EQ(textOf(errors["gone"].userInfo, "TLYUploaderUniqueName"), "gone");
    EXPECT_EQ(errors["no-path"].code, -2);
    EXPECT_EQ(textOf(errors["no-path"].userInfo, "NSFilePath"), "(null)");
    EXPECT_EQ(errors["no-request"].code, -2);
    if (!canStillRead) {
        EXPECT_EQ(errors["unreadable"].code, -8);
    }
}

TEST_F(UploaderTest, AServerThatAlwaysFailsGetsTwelveAttemptsThenMinusSix)
{
    LogCapture log;
    kits::setKitDebugLogging(true);
    server.setHandler([](const testsupport::RecordedRequest&) { return answer(503); });
    queue->addOperation(operationFor(server.url("/spi/v2/events"), "BUSY"));
    const auto finished = runUntilFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    ASSERT_TRUE(finished[0].error);
    EXPECT_EQ(finished[0].error->domain, "KSTNetworkError");
    EXPECT_EQ(finished[0].error->code, -6);
    EXPECT_EQ(textOf(finished[0].error->userInfo, "TLYNetworkRetryHandlerIdentifier"), "BUSY");
    EXPECT_EQ(textOf(finished[0].error->userInfo, "NSErrorFailingURLKey"), server.url("/spi/v2/events"));
    ASSERT_EQ(finished[0].error->underlyingErrors.size(), 1u);
    EXPECT_EQ(finished[0].error->underlyingErrors[0].code, -1); // the 503's own classification
    EXPECT_EQ(server.requests().size(), 12u);
    EXPECT_EQ(log.count("[Tally] Retrying task with name BUSY"), 11u);
    const auto delays = clock->requestedDelays();
    ASSERT_EQ(delays.size(), 11u);
    EXPECT_GE(delays[0].count(), 1.79);
    EXPECT_LE(delays[0].count(), 2.21);
    EXPECT_GE(delays[1].count(), 3.59);
    EXPECT_LE(delays[1].count(), 4.41);
    EXPECT_GE(delays[10].count(), 2048 * 0.89);
    EXPECT_LE(delays[10].count(), 2048 * 1.11);
}

TEST_F(UploaderTest, AClientErrorIsNotRetriedAndRetryAfterSpacesARetry)
{
    server.script("POST", "/refused", answer(403));
    queue->addOperation(operationFor(server.url("/refused"), "REFUSED"));
    auto finished = runUntilFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    ASSERT_TRUE(finished[0].error);
    EXPECT_EQ(finished[0].error->code, -5);
    EXPECT_TRUE(clock->requestedDelays().empty());

    // "Retry-After: 10" spaces the retry by 10 s (± the jitter).
    server.script("POST", "/later", answer(429, {{"Retry-After", "10"}}));
    server.script("POST", "/later", answer(200));
    queue->addOperation(operationFor(server.url("/later"), "LATER"));
    finished = runUntilFinished(2);
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_FALSE(finished[1].error);
    const auto delays = clock->requestedDelays();
    ASSERT_EQ(delays.size(), 1u);
    EXPECT_GE(delays[0].count(), 8.99);
    EXPECT_LE(delays[0].count(), 11.01);
}

TEST_F(UploaderTest, ServerTrustIsPinnedInAndOutsideDebugMode)
{
    const auto& c = *certificates;
    server.setHandler([](const testsupport::RecordedRequest&) { return answer(200); });

    // Pinned to another root: the handshake is refused, nothing is sent and nothing is retried.
    kits::testhooks::setPinnedCertificates(
        kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootB.der.data(), c.rootB.der.size())});
    auto refusing = std::make_shared<RecordingDelegate>(folder.path());
    auto refusingUploader = TLYUploader::initWithQueue(queue, refusing);
    queue->addOperation(std::make_shared<TLYUploadOperation>(refusingUploader, server.url("/e"), "k",
                                                             packagedFile("PINNED-B"), "PINNED-B"));
    auto finished = refusing->waitForFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    ASSERT_TRUE(finished[0].error);
    EXPECT_EQ(finished[0].error->domain, net::URLErrorDomain);
    EXPECT_EQ(finished[0].error->code, net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(refusing->completedTasks(), 1u); // not retried

    // Pinned to the server's root: sent.
    kits::testhooks::setPinnedCertificates(
        kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootA.der.data(), c.rootA.der.size())});
    auto accepting = std::make_shared<RecordingDelegate>(folder.path());
    auto acceptingUploader = TLYUploader::initWithQueue(queue, accepting);
    queue->addOperation(std::make_shared<TLYUploadOperation>(acceptingUploader, server.url("/e"), "k",
                                                             packagedFile("PINNED-A"), "PINNED-A"));
    finished = accepting->waitForFinished(1);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0].error);
    EXPECT_EQ(server.requests().size(), 1u);

    // Debug mode changes the log, not whom the uploads trust: B's pin still refuses A's server, even with a
    // trust store that holds A for default handling.
    kits::setKitDebugLogging(true);
    net::testhooks::setDefaultTrustStoreFile(c.rootA.certificatePEM.string());
    queue->addOperation(
        std::make_shared<TLYUploadOperation>(refusingUploader, server.url("/e"), "k", packagedFile("DEBUG"), "DEBUG"));
    finished = refusing->waitForFinished(2);
    ASSERT_EQ(finished.size(), 2u);
    ASSERT_TRUE(finished[1].error);
    EXPECT_EQ(finished[1].error->code, net::URLErrorServerCertificateUntrusted);
    EXPECT_EQ(server.requests().size(), 1u);
    queue->waitUntilAllOperationsAreFinished();
}

TEST_F(UploaderTest, ANewTimeOutMakesANewSessionAndLetsRunningTasksFinish)
{
    server.script("POST", "/slow", answer(200, {}, 800ms));
    server.script("POST", "/fast", answer(200));
    net::URLRequest slow(server.url("/slow"));
    slow.httpMethod = "POST";
    uploader->startUploadRequest(slow, packagedFile("FIRST"), "FIRST");
    ASSERT_TRUE(server.waitForRequests(1, 20s));
    queue->waitUntilAllOperationsAreFinished();
    const auto before = [&] {
        std::shared_ptr<net::URLSession> session;
        queue->addOperationWithBlock([&] { session = uploader->session(); });
        queue->waitUntilAllOperationsAreFinished();
        return session;
    }();
    uploader->setDefaultUploadTimeout(120.0);
    uploader->setLowPowerUploadTimeout(30.0);
    std::shared_ptr<net::URLSession> after;
    queue->addOperationWithBlock([&] { after = uploader->session(); });
    queue->waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(after);
    EXPECT_NE(before, after);
    EXPECT_EQ(after->configuration().timeoutIntervalForResource, 120.0);
    EXPECT_EQ(uploader->lowPowerUploadTimeout(), 30.0);
    net::URLRequest fast(server.url("/fast"));
    fast.httpMethod = "POST";
    uploader->startUploadRequest(fast, packagedFile("SECOND"), "SECOND");
    const auto finished = runUntilFinished(2);
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_FALSE(finished[0].error);
    EXPECT_FALSE(finished[1].error);
}

TEST(BackoffTimerTest, DelaysGrowByPowersWithTheirJitterAndStayFinite)
{
    const TLYBackoffTimer timer(0.0);
    EXPECT_EQ(timer.jitterCoefficient(), static_cast<double>(0.1f));
    for (int draw = 0; draw < 1000; ++draw) {
        const double first = timer.computeDelayForInitialValue(0.0, 0);
        EXPECT_GE(first, 1.79);
        EXPECT_LE(first, 2.21);
        const double third = timer.computeDelayForInitialValue(3.0, 3);
        EXPECT_GE(third, 27 * 0.8999);
        EXPECT_LE(third, 27 * 1.1001);
    }
    EXPECT_EQ(timer.computeDelayForInitialValue(1e300, 11), kits::KSTNetworkMaximumRetryDelay);
    const double fromNaN = timer.computeDelayForInitialValue(std::nan(""), 1);
    EXPECT_GE(fromNaN, 1.79);
    EXPECT_LE(fromNaN, 2.21);
    EXPECT_EQ(TLYBackoffTimer(0.0, 0.0).computeDelayForInitialValue(2.0, 2), 4.0);

    EXPECT_TRUE(TLYBackoffTimer::jitterCoefficientIsValid(0.0));
    EXPECT_FALSE(TLYBackoffTimer::jitterCoefficientIsValid(1.0));
    EXPECT_FALSE(TLYBackoffTimer::jitterCoefficientIsValid(-0.01));
    try {
        TLYBackoffTimer invalid(1.0, 1.5);
        ADD_FAILURE() << "an invalid coefficient was taken";
    } catch (const kits::KSTException& exception) {
        EXPECT_STREQ(exception.what(),
                     "Invalid parameter not satisfying: [TLYBackoffTimer jitterCoefficientIsValid:jitterCoefficient]");
    }
}

TEST(NetworkRetryHandlerTest, TimersAreKeptPerNameAndAnEmptyNameGetsMinusSeven)
{
    TLYNetworkRetryHandler handler;
    const auto first = handler.timerForIdentifier("name", 5.0);
    const auto again = handler.timerForIdentifier("name", 30.0);
    EXPECT_EQ(first, again);
    EXPECT_EQ(again->initialValue(), 5.0);
    EXPECT_FALSE(handler.timerForIdentifier("", 5.0));

    net::HTTPURLResponse busy{"https://h.test/e", 503, {}};
    std::optional<foundation::Error> error;
    bool retry = true;
    handler.handleCompletedRequest(net::URLRequest("https://h.test/e"), &busy, "", std::nullopt,
                                   [&](bool decided, std::optional<foundation::Error> given) {
                                       retry = decided;
                                       error = std::move(given);
                                   });
    EXPECT_FALSE(retry);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -7);
    EXPECT_EQ(textOf(error->userInfo, "TLYNetworkRetryHandlerIdentifier"), "(null)");
    EXPECT_EQ(textOf(error->userInfo, "NSErrorFailingURLKey"), "https://h.test/e");
}

// Seeded random statuses, "Retry-After" and "Content-Type" values, answered for a handful of names on
// the virtual scheduler: every decision comes once, every delay is finite and within the cap, and no
// name runs more than 12 times.
TEST(NetworkRetryHandlerTest, HostileAnswersNeverCrashOrRunAway)
{
    auto clock = std::make_shared<foundation::VirtualScheduler>();
    const auto previous = foundation::scheduler();
    foundation::setScheduler(clock);
    std::mt19937_64 random(testsupport::fuzzSeed(35));
    const std::vector<std::string> retryAfter{"30",
                                              "-1",
                                              "inf",
                                              "-inf",
                                              "nan",
                                              "1e308",
                                              "1e-308",
                                              "0x1p99",
                                              "",
                                              " ",
                                              "2",
                                              "1e400",
                                              "Wed, 21 Oct 2015 07:28:00 GMT",
                                              "9999999999999999999999",
                                              "\x80\xff"};
    const std::vector<std::string> contentTypes{"application/json", "text/html; charset=utf-8", "", ";", "\r\n"};
    TLYNetworkRetryHandler handler;
    net::URLRequest request("https://h.test/spi/v2/events");
    std::map<std::string, int> attempts;
    std::map<std::string, bool> over;
    const std::size_t count = testsupport::fuzzMutationCount();
    std::size_t answered = 0;
    for (std::size_t index = 0; index < count; ++index) {
        std::string name = "name-" + std::to_string(random() % 64);
        if (over[name])
            name = "fresh-" + std::to_string(index);
        net::HTTPURLResponse response;
        switch (random() % 4) {
        case 0: response.statusCode = std::nullopt; break;
        case 1: response.statusCode = 500 + static_cast<long>(random() % 100); break;
        case 2: response.statusCode = static_cast<long>(random() % 1000); break;
        default: response.statusCode = static_cast<long>(random()); break;
        }
        if (random() % 2)
            response.headerFields.add("Retry-After", retryAfter[random() % retryAfter.size()]);
        if (random() % 2)
            response.headerFields.add("Content-Type", contentTypes[random() % contentTypes.size()]);
        std::optional<foundation::Error> transport;
        if (random() % 16 == 0)
            transport = foundation::Error{std::string(net::URLErrorDomain), net::URLErrorTimedOut, "", {}, "", {}};
        ++attempts[name];
        ASSERT_LE(attempts[name], 12) << name << " at input " << index;
        int calls = 0;
        bool retry = false;
        handler.handleCompletedRequest(request, &response, name, transport,
                                       [&](bool again, std::optional<foundation::Error>) {
                                           ++calls;
                                           retry = again;
                                       });
        const auto delays = clock->requestedDelays();
        if (!delays.empty()) {
            const double delay = delays.back().count();
            ASSERT_TRUE(std::isfinite(delay) && delay >= 0 && delay <= kits::KSTNetworkMaximumRetryDelay)
                << "input " << index << ": " << delay;
        }
        clock->advance(foundation::SchedulerDuration(kits::KSTNetworkMaximumRetryDelay));
        ASSERT_EQ(calls, 1) << "input " << index;
        answered += static_cast<std::size_t>(calls);
        if (!retry)
            over[name] = true;
    }
    EXPECT_EQ(answered, count);
    foundation::setScheduler(previous);
}
