// The URL session against the loopback server: what reaches the wire, completion blocks and the
// delegate, downloads, task lists, cancel and invalidation, time-outs and transport errors, trust
// challenges with test roots, and hostile answers.
#include "net/url_session.h"

#include "foundation/operation_queue.h"
#include "kits/platform/kst_certificate_pinner.h"
#include "net/url_error.h"

#include "hooks/default_trust_store_hook.h"
#include "loopback_server.h"
#include "temp_folder.h"
#include "test_certificates.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::AnswerFault;
using testsupport::LoopbackServer;
using testsupport::ScriptedAnswer;

struct DataResult {
    std::string body;
    std::optional<net::HTTPURLResponse> response;
    std::optional<foundation::Error> error;
};

// Counts what the delegate hears; answers trust challenges through an optional pinner.
class RecordingDelegate : public net::URLSessionDelegate {
public:
    std::optional<kits::KSTCertificatePinner> pinner;
    std::optional<net::ChallengeDisposition> fixedAnswer;

    net::ChallengeDisposition didReceiveServerTrustChallenge(net::URLSession&, const net::ServerTrust& trust) override
    {
        ++challenges;
        if (fixedAnswer)
            return *fixedAnswer;
        if (!pinner)
            return net::ChallengeDisposition::performDefaultHandling;
        bool accepted = false;
        kits::KSTURLAuthenticationChallenge challenge;
        challenge.protectionSpace.serverTrust = kits::KSTServerTrust{trust.certificateChain, trust.host};
        pinner->handleChallengeFromURLSession(challenge, nullptr, [&](kits::KSTChallengeDisposition disposition, auto) {
            accepted = disposition == kits::KSTChallengeDisposition::useCredential;
        });
        return accepted ? net::ChallengeDisposition::useCredential : net::ChallengeDisposition::cancelChallenge;
    }
    void didReceiveResponse(net::URLSession&, net::URLSessionTask&, const net::HTTPURLResponse&) override { ++calls; }
    void didReceiveData(net::URLSession&, net::URLSessionTask&, std::string_view data) override
    {
        ++calls;
        std::lock_guard lock(mutex);
        body += data;
    }
    void didFinishDownloadingToURL(net::URLSession&, net::URLSessionTask&,
                                   const std::filesystem::path& location) override
    {
        ++calls;
        downloadExisted = std::filesystem::exists(location);
        downloadLocation = location;
    }
    void didCompleteWithError(net::URLSession&, net::URLSessionTask&,
                              const std::optional<foundation::Error>& error) override
    {
        ++calls;
        std::lock_guard lock(mutex);
        completions.push_back(error);
        changed.notify_all();
    }
    bool waitForCompletions(std::size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return completions.size() >= count; });
    }

    std::atomic<int> calls{0};
    std::atomic<int> challenges{0};
    std::mutex mutex;
    std::condition_variable changed;
    std::string body;
    std::vector<std::optional<foundation::Error>> completions;
    bool downloadExisted = false;
    std::filesystem::path downloadLocation;
};

DataResult runData(net::URLSession& session, const net::URLRequest& request)
{
    std::promise<DataResult> done;
    auto task = session.dataTaskWithRequest(request, [&](std::string body, auto response, auto error) {
        done.set_value({std::move(body), std::move(response), std::move(error)});
    });
    task->resume();
    auto future = done.get_future();
    if (future.wait_for(30s) != std::future_status::ready)
        return {"", std::nullopt, foundation::Error{"test", 0, "no completion within 30 s", {}, "", {}}};
    return future.get();
}

std::string sha256(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::int64_t codeOf(const std::optional<foundation::Error>& error)
{
    return error ? error->code : 0;
}

class URLSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new testsupport::TempFolder("horavine-session");
        certificates = new testsupport::TestCertificates(folder->path());
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        delete folder;
    }
    void TearDown() override { net::testhooks::setDefaultTrustStoreFile(std::nullopt); }

    std::filesystem::path writeFile(const std::string& name, std::size_t size)
    {
        const auto path = folder->path() / name;
        std::ofstream file(path, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (std::size_t written = 0; written < size; written += block.size()) {
            for (std::size_t index = 0; index < block.size(); ++index)
                block[index] = static_cast<char>((written + index) * 2654435761u >> 24);
            file.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - written)));
        }
        return path;
    }

    static testsupport::TempFolder* folder;
    static testsupport::TestCertificates* certificates;
};
testsupport::TempFolder* URLSessionTest::folder = nullptr;
testsupport::TestCertificates* URLSessionTest::certificates = nullptr;

} // namespace

TEST_F(URLSessionTest, CompletionBlocksGetTheBodyAndTheDelegateNothing)
{
    LoopbackServer server;
    server.script("GET", "/data",
                  ScriptedAnswer{200, "", {{"X-Request-Id", "r1"}}, "hello body", 0ms, AnswerFault::none});
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = net::URLSession::sessionWithConfiguration({}, delegate);
    const auto result = runData(*session, net::URLRequest(server.url("/data")));
    EXPECT_FALSE(result.error) << result.error->localizedDescription;
    EXPECT_EQ(result.body, "hello body");
    ASSERT_TRUE(result.response);
    EXPECT_EQ(result.response->statusCode, 200);
    EXPECT_EQ(result.response->valueForHTTPHeaderField("x-request-id"), "r1");
    session->finishTasksAndInvalidate();
    EXPECT_EQ(delegate->calls, 0);
}

TEST_F(URLSessionTest, TheWireCarriesExactlyTheRequestsHeadersAndTheFileStreams)
{
    LoopbackServer server;
    const auto file = writeFile("upload.bin", 3 * 1000 * 1000 + 17);
    net::URLSessionConfiguration configuration;
    configuration.HTTPAdditionalHeaders.add("X-A", "1");
    auto session = net::URLSession::sessionWithConfiguration(configuration);
    net::URLRequest request(server.url("/upload"));
    request.httpMethod = "POST";
    request.setValueForHTTPHeaderField("0", "X-A");
    request.setValueForHTTPHeaderField("application/octet-stream", "Content-Type");
    request.setValueForHTTPHeaderField("last", "X-Last");
    std::promise<DataResult> done;
    auto task = session->uploadTaskWithRequestFromFile(request, file, [&](std::string body, auto response, auto error) {
        done.set_value({std::move(body), std::move(response), std::move(error)});
    });
    task->resume();
    const auto result = done.get_future().get();
    EXPECT_FALSE(result.error);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    std::ifstream sent(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(sent)), std::istreambuf_iterator<char>());
    EXPECT_EQ(sha256(requests[0].body), sha256(bytes));
    std::vector<std::string> names;
    for (const auto& [name, value] : requests[0].headers)
        names.push_back(name);
    // Host first (curl's), then the request's in its order, the configuration's beside them, and the
    // length once; no Accept, Expect or Transfer-Encoding of curl's own.
    EXPECT_EQ(names, (std::vector<std::string>{"Host", "X-A", "Content-Type", "X-Last", "X-A", "Content-Length"}));
    EXPECT_EQ(requests[0].headers[1].second, "0");
    EXPECT_EQ(requests[0].headers[4].second, "1");
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(bytes.size()));
}

TEST_F(URLSessionTest, ADownloadsFileLivesOnlyDuringItsCompletion)
{
    LoopbackServer server;
    server.script("GET", "/file", ScriptedAnswer{200, "", {}, std::string(100000, 'd'), 0ms, AnswerFault::none});
    auto session = net::URLSession::sessionWithConfiguration({});
    std::promise<void> done;
    std::filesystem::path seen;
    std::string content;
    auto task =
        session->downloadTaskWithRequest(net::URLRequest(server.url("/file")), [&](auto location, auto, auto error) {
            EXPECT_FALSE(error);
            if (location) {
                seen = *location;
                std::ifstream file(*location, std::ios::binary);
                content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            }
            done.set_value();
        });
    task->resume();
    done.get_future().get();
    EXPECT_EQ(content, std::string(100000, 'd'));
    session->finishTasksAndInvalidate();
    // The removal follows the completion on the delegate queue.
    for (int wait = 0; wait < 100 && std::filesystem::exists(seen); ++wait)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(seen.empty());
    EXPECT_FALSE(std::filesystem::exists(seen));

    // Through the delegate: the file exists during its call, and is gone after.
    auto delegate = std::make_shared<RecordingDelegate>();
    auto delegated = net::URLSession::sessionWithConfiguration({}, delegate);
    server.script("GET", "/file", ScriptedAnswer{200, "", {}, "small", 0ms, AnswerFault::none});
    delegated->downloadTaskWithRequest(net::URLRequest(server.url("/file")))->resume();
    ASSERT_TRUE(delegate->waitForCompletions(1));
    EXPECT_TRUE(delegate->downloadExisted);
    EXPECT_FALSE(std::filesystem::exists(delegate->downloadLocation));
}

TEST_F(URLSessionTest, TaskListsAndInvalidateAndCancel)
{
    LoopbackServer server;
    server.script("GET", "/stall", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = net::URLSession::sessionWithConfiguration({}, delegate);
    auto stalled = session->dataTaskWithRequest(net::URLRequest(server.url("/stall")));
    stalled->setTaskDescription("stalled download");
    stalled->resume();
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    std::promise<std::vector<std::string>> listed;
    session->getTasksWithCompletionHandler([&](auto data, auto upload, auto download) {
        std::vector<std::string> descriptions;
        for (const auto& task : data)
            descriptions.push_back(task->taskDescription());
        descriptions.push_back(std::to_string(upload.size() + download.size()));
        listed.set_value(descriptions);
    });
    EXPECT_EQ(listed.get_future().get(), (std::vector<std::string>{"stalled download", "0"}));

    session->invalidateAndCancel();
    for (int wait = 0; wait < 200 && stalled->state() != net::URLSessionTaskState::completed; ++wait)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(stalled->state(), net::URLSessionTaskState::completed);
    EXPECT_EQ(codeOf(stalled->error()), net::URLErrorCancelled);
    const int heard = delegate->calls;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(delegate->calls, heard); // nothing after the invalidation
    EXPECT_TRUE(delegate->completions.empty());
}

TEST_F(URLSessionTest, TimeOutsAndTransportErrors)
{
    LoopbackServer server;
    server.script("GET", "/stall", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    auto session = net::URLSession::sessionWithConfiguration({});
    net::URLRequest stall(server.url("/stall"));
    stall.timeoutInterval = 1.0;
    EXPECT_EQ(codeOf(runData(*session, stall).error), net::URLErrorTimedOut);

    // A port nobody listens on: bound, never listening.
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length);
    const auto refused =
        runData(*session, net::URLRequest("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"));
    ::close(closed);
    EXPECT_EQ(codeOf(refused.error), net::URLErrorCannotConnectToHost);

    // A reset during a 50 MB upload: a transport error, and the process lives on.
    server.setHandler(
        [](const testsupport::RecordedRequest&) { return ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::reset}; });
    const auto big = writeFile("big.bin", 50 * 1000 * 1000);
    std::promise<DataResult> done;
    net::URLRequest upload(server.url("/big"));
    upload.httpMethod = "POST";
    session
        ->uploadTaskWithRequestFromFile(upload, big,
                                        [&](std::string body, auto response, auto error) {
                                            done.set_value({std::move(body), std::move(response), std::move(error)});
                                        })
        ->resume();
    const auto reset = done.get_future().get();
    ASSERT_TRUE(reset.error);
    EXPECT_EQ(reset.error->domain, net::URLErrorDomain);
    EXPECT_NE(reset.error->code, net::URLErrorCancelled);
}

TEST_F(URLSessionTest, HostileAnswersEndTheirTasksWithErrors)
{
    LoopbackServer server;
    server.script("GET", "/garbage", ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::garbageStatusLine});
    server.script("GET", "/endless", ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::endlessHeader});
    server.script("GET", "/short", ScriptedAnswer{200, "", {}, "abc", 0ms, AnswerFault::shortBody});
    server.script("GET", "/close", ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::closeWithoutAnswer});
    server.script("GET", "/length", ScriptedAnswer{200, "", {{"Content-Length", "ten"}}, "x", 0ms, AnswerFault::none});
    server.script("GET", "/chunked",
                  ScriptedAnswer{200,
                                 "",
                                 {{"Transfer-Encoding", "chunked"}, {"Content-Length", "0"}},
                                 "zz\r\nnot hex\r\n",
                                 0ms,
                                 AnswerFault::none});
    auto session = net::URLSession::sessionWithConfiguration({});
    for (const char* path : {"/garbage", "/endless", "/short", "/close", "/length", "/chunked"}) {
        net::URLRequest request(server.url(path));
        request.timeoutInterval = 5;
        const auto result = runData(*session, request);
        ASSERT_TRUE(result.error) << path;
        EXPECT_EQ(result.error->domain, net::URLErrorDomain) << path;
    }
}

TEST_F(URLSessionTest, TrustChallengesDecideWhomToTalkTo)
{
    const auto& c = *certificates;
    LoopbackServer underA({&c.leafA, {}, 60s});
    LoopbackServer underB({&c.leafB, {}, 60s});
    LoopbackServer otherHost({&c.otherHostLeafA, {}, 60s});
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->pinner.emplace(
        kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootA.der.data(), c.rootA.der.size())});
    auto session = net::URLSession::sessionWithConfiguration({}, delegate);

    const auto reached = runData(*session, net::URLRequest(underA.url("/")));
    EXPECT_FALSE(reached.error) << reached.error->localizedDescription;
    EXPECT_EQ(reached.response->statusCode, 404);

    EXPECT_EQ(codeOf(runData(*session, net::URLRequest(underB.url("/"))).error), net::URLErrorCancelled);
    EXPECT_TRUE(underB.requests().empty());

    // A delegate that accepts anything: curl still checks the host name.
    auto accepting = std::make_shared<RecordingDelegate>();
    accepting->fixedAnswer = net::ChallengeDisposition::useCredential;
    auto careless = net::URLSession::sessionWithConfiguration({}, accepting);
    EXPECT_EQ(codeOf(runData(*careless, net::URLRequest(otherHost.url("/"))).error),
              net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(otherHost.requests().empty());
    EXPECT_GT(accepting->challenges, 0);

    // Default handling verifies against the default trust store, here pointed at B by the test hook.
    net::testhooks::setDefaultTrustStoreFile(c.rootB.certificatePEM.string());
    auto plain = net::URLSession::sessionWithConfiguration({});
    EXPECT_FALSE(runData(*plain, net::URLRequest(underB.url("/"))).error);
    EXPECT_EQ(codeOf(runData(*plain, net::URLRequest(underA.url("/"))).error), net::URLErrorServerCertificateUntrusted);
}
