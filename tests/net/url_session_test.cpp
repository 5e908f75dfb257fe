// The URL session against the loopback server: what reaches the wire, completion blocks and the
// delegate's calls in their order, downloads, task lists, cancel and invalidation, time-outs and
// transport errors, redirects, trust challenges with test roots, and hostile answers.
#include "net/url_session.h"

#include "foundation/operation_queue.h"
#include "kits/platform/kst_certificate_pinner.h"
#include "net/url_error.h"

#include "hooks/default_trust_store_hook.h"
#include "loopback_server.h"
#include "run_program.h"
#include "suite_certificates.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
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
    // The host the pinner evaluates in place of the one the session asked for.
    std::optional<std::string> pinnerHost;

    net::ChallengeDisposition didReceiveServerTrustChallenge(net::URLSession&, const net::ServerTrust& trust) override
    {
        ++challenges;
        {
            std::lock_guard lock(mutex);
            challengeHosts.push_back(trust.host);
        }
        if (!pinner)
            return net::ChallengeDisposition::performDefaultHandling;
        bool accepted = false;
        kits::KSTURLAuthenticationChallenge challenge;
        challenge.protectionSpace.serverTrust =
            kits::KSTServerTrust{trust.certificateChain, pinnerHost ? *pinnerHost : trust.host};
        pinner->handleChallengeFromURLSession(challenge, nullptr, [&](kits::KSTChallengeDisposition disposition, auto) {
            accepted = disposition == kits::KSTChallengeDisposition::useCredential;
        });
        if (accepted)
            ++pinnerAccepted;
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
    std::atomic<int> pinnerAccepted{0};
    std::mutex mutex;
    std::vector<std::string> challengeHosts;
    std::condition_variable changed;
    std::string body;
    std::vector<std::optional<foundation::Error>> completions;
    bool downloadExisted = false;
    std::filesystem::path downloadLocation;
};

// Writes down every delegate call per task, in the order the calls arrive.
class OrderDelegate : public net::URLSessionDelegate {
public:
    void didReceiveResponse(net::URLSession&, net::URLSessionTask& task, const net::HTTPURLResponse& response) override
    {
        note(task, "response " + std::to_string(response.statusCode.value_or(0)));
    }
    void didReceiveData(net::URLSession&, net::URLSessionTask& task, std::string_view data) override
    {
        std::lock_guard lock(mutex);
        auto& seen = events[task.taskIdentifier()];
        if (seen.empty() || seen.back() != "data") // a run of chunks is one event
            seen.emplace_back("data");
        bodies[task.taskIdentifier()] += data;
    }
    void didFinishDownloadingToURL(net::URLSession&, net::URLSessionTask& task, const std::filesystem::path&) override
    {
        note(task, "finished");
    }
    void didCompleteWithError(net::URLSession&, net::URLSessionTask& task,
                              const std::optional<foundation::Error>& error) override
    {
        note(task, "complete " + std::to_string(error ? error->code : 0));
        std::lock_guard lock(mutex);
        ++completed;
        changed.notify_all();
    }
    // Resumes the task and waits for its completion; the calls it gave.
    std::vector<std::string> run(const std::shared_ptr<net::URLSessionTask>& task)
    {
        std::unique_lock lock(mutex);
        const int before = completed;
        lock.unlock();
        task->resume();
        lock.lock();
        changed.wait_for(lock, 20s, [&] { return completed > before; });
        return events[task->taskIdentifier()];
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::uint64_t, std::vector<std::string>> events;
    std::map<std::uint64_t, std::string> bodies;
    int completed = 0;

private:
    void note(net::URLSessionTask& task, std::string event)
    {
        std::lock_guard lock(mutex);
        events[task.taskIdentifier()].push_back(std::move(event));
    }
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
    static void SetUpTestSuite() { certificates.make("horavine-session"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void TearDown() override { net::testhooks::setDefaultTrustStoreFile(std::nullopt); }

    std::filesystem::path writeFile(const std::string& name, std::size_t size)
    {
        const auto path = certificates.folder() / name;
        std::ofstream file(path, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (std::size_t written = 0; written < size; written += block.size()) {
            for (std::size_t index = 0; index < block.size(); ++index)
                block[index] = static_cast<char>((written + index) * 2654435761u >> 24);
            file.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - written)));
        }
        return path;
    }

    static inline testsupport::SuiteCertificates certificates;
};

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

    // A request's own Content-Length never goes twice, nor with a length the body does not have.
    net::URLRequest lying(server.url("/lying"));
    lying.httpMethod = "POST";
    lying.httpBody = "12345";
    lying.setValueForHTTPHeaderField("999", "Content-Length");
    EXPECT_FALSE(runData(*session, lying).error);
    const auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[1].body, "12345");
    EXPECT_EQ(std::count_if(recorded[1].headers.begin(), recorded[1].headers.end(),
                            [](const auto& header) { return header.first == "Content-Length"; }),
              1);
    EXPECT_EQ(recorded[1].header("Content-Length"), "5");
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
    stalled->setTaskDescription("stalled data");
    stalled->resume();
    server.script("POST", "/stall",
                  ScriptedAnswer{200, "", {}, std::string(4096, 'u'), 0ms, AnswerFault::stallMidBody});
    net::URLRequest post(server.url("/stall"));
    post.httpMethod = "POST";
    auto upload = session->uploadTaskWithRequestFromFile(post, writeFile("stalled-upload.bin", 300000));
    upload->setTaskDescription("stalled upload");
    upload->resume();
    ASSERT_TRUE(server.waitForRequests(2, 10s));
    std::promise<std::vector<std::string>> listed;
    session->getTasksWithCompletionHandler([&](auto data, auto uploads, auto downloads) {
        std::vector<std::string> descriptions;
        for (const auto& task : data)
            descriptions.push_back("data: " + task->taskDescription());
        for (const auto& task : uploads)
            descriptions.push_back("upload: " + task->taskDescription());
        descriptions.push_back(std::to_string(downloads.size()));
        listed.set_value(descriptions);
    });
    EXPECT_EQ(listed.get_future().get(),
              (std::vector<std::string>{"data: stalled data", "upload: stalled upload", "0"}));

    session->invalidateAndCancel();
    for (const auto& task : {stalled, upload}) {
        for (int wait = 0; wait < 200 && task->state() != net::URLSessionTaskState::completed; ++wait)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(task->state(), net::URLSessionTaskState::completed);
        EXPECT_EQ(codeOf(task->error()), net::URLErrorCancelled);
    }
    const int heard = delegate->calls;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(delegate->calls, heard); // nothing after the invalidation
    EXPECT_TRUE(delegate->completions.empty());
}

// The kits' sessions live until the process ends, so the program quits with their thread perhaps inside
// a handshake: the process must still end as it meant to. Each child returns from main with eight TLS
// connections under way against a server in this process.
TEST_F(URLSessionTest, AProcessEndsCleanlyWithItsSessionsThreadInTheMiddleOfHandshakes)
{
    LoopbackServer server{testsupport::LoopbackServerOptions{&certificates->leafA, {}, 120s}};
    server.setHandler(
        [](const testsupport::RecordedRequest&) { return ScriptedAnswer{200, "", {}, "ok", 0ms, AnswerFault::none}; });
    const auto output = certificates.folder() / "exit-child.out";
    for (int run = 0; run < 10; ++run) {
        const int status =
            testsupport::runProgram({HORAVINE_EXIT_CHILD, server.url("/"), certificates->rootA.certificatePEM.string()},
                                    output.string(), output.string(), 60s);
        std::ifstream printed(output);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "run " << run << ": status " << status << (WIFSIGNALED(status) ? " (signal)" : "") << ", output:\n"
            << std::string(std::istreambuf_iterator<char>(printed), {});
    }
}

TEST_F(URLSessionTest, TimeOutsAndTransportErrors)
{
    LoopbackServer server;
    server.script("GET", "/stall", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    auto session = net::URLSession::sessionWithConfiguration({});
    net::URLRequest stall(server.url("/stall"));
    stall.timeoutInterval = 1.0;
    EXPECT_EQ(codeOf(runData(*session, stall).error), net::URLErrorTimedOut);

    // The configuration's resource time-out bounds the whole task, however patient the request.
    server.script("GET", "/stall", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    net::URLSessionConfiguration bounded;
    bounded.timeoutIntervalForResource = 1.0;
    auto boundedSession = net::URLSession::sessionWithConfiguration(bounded);
    net::URLRequest patient(server.url("/stall"));
    patient.timeoutInterval = 120.0;
    // (runData gives up after 30 s, long before the request's own 120 s.)
    EXPECT_EQ(codeOf(runData(*boundedSession, patient).error), net::URLErrorTimedOut);

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

    // A refused server is an untrusted one, never a cancelled request.
    const auto refused = runData(*session, net::URLRequest(underB.url("/")));
    EXPECT_EQ(codeOf(refused.error), net::URLErrorServerCertificateUntrusted);
    EXPECT_EQ(refused.error->localizedDescription, "the server's certificate does not chain to a trusted root");
    EXPECT_TRUE(underB.requests().empty());

    // A peer that answers the handshake with plain text: the handshake breaks down, which is no trust
    // decision (and is retried by the kits, unlike a refusal).
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread peer([listener] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) != 1)
            return;
        const int client = ::accept(listener, nullptr, nullptr);
        if (client >= 0) {
            ::send(client, "HTTP/1.1 400 No\r\n\r\n", 19, MSG_NOSIGNAL);
            ::close(client);
        }
    });
    const auto broken =
        runData(*session, net::URLRequest("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"));
    peer.join();
    ::close(listener);
    EXPECT_EQ(codeOf(broken.error), net::URLErrorSecureConnectionFailed);

    // A leaf under A for another host name, with a pinner that accepts it (it is shown the name the
    // leaf carries): curl's own host check still refuses the server.
    auto misled = std::make_shared<RecordingDelegate>();
    misled->pinner = delegate->pinner;
    misled->pinnerHost = "other.test";
    auto careless = net::URLSession::sessionWithConfiguration({}, misled);
    EXPECT_EQ(codeOf(runData(*careless, net::URLRequest(otherHost.url("/"))).error),
              net::URLErrorServerCertificateUntrusted);
    EXPECT_TRUE(otherHost.requests().empty());
    EXPECT_GT(misled->pinnerAccepted, 0);

    // Default handling verifies against the default trust store, here pointed at B by the test hook.
    net::testhooks::setDefaultTrustStoreFile(c.rootB.certificatePEM.string());
    auto plain = net::URLSession::sessionWithConfiguration({});
    EXPECT_FALSE(runData(*plain, net::URLRequest(underB.url("/"))).error);
    EXPECT_EQ(codeOf(runData(*plain, net::URLRequest(underA.url("/"))).error), net::URLErrorServerCertificateUntrusted);
}

TEST_F(URLSessionTest, TheDelegateHearsResponseThenDataThenCompletion)
{
    LoopbackServer server;
    std::string big(1 << 20, '\0');
    for (std::size_t index = 0; index < big.size(); ++index)
        big[index] = static_cast<char>(index * 31 >> 3);
    server.script("GET", "/big", ScriptedAnswer{200, "", {}, big, 0ms, AnswerFault::none});
    server.script("POST", "/upload", ScriptedAnswer{201, "", {}, "stored", 0ms, AnswerFault::none});
    server.script("GET", "/file", ScriptedAnswer{200, "", {}, "file body", 0ms, AnswerFault::none});
    server.script("GET", "/empty", ScriptedAnswer{204, "", {}, "", 0ms, AnswerFault::none});
    auto delegate = std::make_shared<OrderDelegate>();
    auto session = net::URLSession::sessionWithConfiguration({}, delegate);

    auto data = session->dataTaskWithRequest(net::URLRequest(server.url("/big")));
    EXPECT_EQ(delegate->run(data), (std::vector<std::string>{"response 200", "data", "complete 0"}));
    EXPECT_TRUE(delegate->bodies[data->taskIdentifier()] == big);

    net::URLRequest post(server.url("/upload"));
    post.httpMethod = "POST";
    auto upload = session->uploadTaskWithRequestFromFile(post, writeFile("order-upload.bin", 100000));
    EXPECT_EQ(delegate->run(upload), (std::vector<std::string>{"response 201", "data", "complete 0"}));
    EXPECT_EQ(delegate->bodies[upload->taskIdentifier()], "stored");

    // A download tells of its file, never of its bytes.
    auto download = session->downloadTaskWithRequest(net::URLRequest(server.url("/file")));
    EXPECT_EQ(delegate->run(download), (std::vector<std::string>{"response 200", "finished", "complete 0"}));

    // An answer without a body is still a response.
    auto empty = session->dataTaskWithRequest(net::URLRequest(server.url("/empty")));
    EXPECT_EQ(delegate->run(empty), (std::vector<std::string>{"response 204", "complete 0"}));
    EXPECT_EQ(empty->response()->statusCode, 204);

    // A connection that never opens: only the completion.
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length);
    auto refused = session->dataTaskWithRequest(
        net::URLRequest("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"));
    EXPECT_EQ(delegate->run(refused),
              (std::vector<std::string>{"complete " + std::to_string(net::URLErrorCannotConnectToHost)}));
    ::close(closed);
}

TEST_F(URLSessionTest, RedirectsAreFollowed)
{
    LoopbackServer server;
    auto session = net::URLSession::sessionWithConfiguration({});

    // The final answer is the response, with its own headers only; the request's headers go along.
    server.script("GET", "/old",
                  ScriptedAnswer{302, "", {{"Location", "/new"}, {"X-Hop", "1"}}, "moved", 0ms, AnswerFault::none});
    server.script("GET", "/new", ScriptedAnswer{200, "", {{"X-Final", "1"}}, "new body", 0ms, AnswerFault::none});
    net::URLRequest get(server.url("/old"));
    get.setValueForHTTPHeaderField("1", "X-A");
    const auto moved = runData(*session, get);
    ASSERT_FALSE(moved.error) << moved.error->localizedDescription;
    EXPECT_EQ(moved.body, "new body");
    EXPECT_EQ(moved.response->statusCode, 200);
    EXPECT_EQ(moved.response->url, server.url("/new"));
    EXPECT_EQ(moved.response->valueForHTTPHeaderField("X-Final"), "1");
    EXPECT_FALSE(moved.response->valueForHTTPHeaderField("X-Hop"));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/new");
    EXPECT_EQ(requests[1].header("X-A"), "1");

    // 303 turns a POST into a GET without its body.
    server.script("POST", "/form", ScriptedAnswer{303, "", {{"Location", "/done"}}, "", 0ms, AnswerFault::none});
    server.script("GET", "/done", ScriptedAnswer{200, "", {}, "done", 0ms, AnswerFault::none});
    net::URLRequest post(server.url("/form"));
    post.httpMethod = "POST";
    post.httpBody = "a=1";
    post.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    post.setValueForHTTPHeaderField("3", "Content-Length");
    const auto seen = runData(*session, post);
    ASSERT_FALSE(seen.error) << seen.error->localizedDescription;
    EXPECT_EQ(seen.body, "done");
    requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].body, "a=1");
    EXPECT_EQ(requests[3].method, "GET");
    EXPECT_EQ(requests[3].body, "");
    EXPECT_FALSE(requests[3].header("Content-Length"));

    // 307 keeps the method, and an upload sends its whole file again.
    const auto file = writeFile("redirected-upload.bin", 250000);
    std::ifstream sent(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(sent)), std::istreambuf_iterator<char>());
    server.script("POST", "/up", ScriptedAnswer{307, "", {{"Location", "/up2"}}, "", 0ms, AnswerFault::none});
    server.script("POST", "/up2", ScriptedAnswer{201, "", {}, "stored", 0ms, AnswerFault::none});
    net::URLRequest upload(server.url("/up"));
    upload.httpMethod = "POST";
    std::promise<DataResult> done;
    session
        ->uploadTaskWithRequestFromFile(upload, file,
                                        [&](std::string body, auto response, auto error) {
                                            done.set_value({std::move(body), std::move(response), std::move(error)});
                                        })
        ->resume();
    const auto stored = done.get_future().get();
    ASSERT_FALSE(stored.error) << stored.error->localizedDescription;
    EXPECT_EQ(stored.response->statusCode, 201);
    requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[5].method, "POST");
    EXPECT_EQ(requests[5].target, "/up2");
    EXPECT_EQ(sha256(requests[4].body), sha256(bytes));
    EXPECT_EQ(sha256(requests[5].body), sha256(bytes));

    // A loop ends with an error after at most 16 follow-ups; a redirect to another scheme is not taken.
    server.setHandler([](const testsupport::RecordedRequest&) {
        return ScriptedAnswer{302, "", {{"Location", "/loop"}}, "", 0ms, AnswerFault::none};
    });
    const auto looped = runData(*session, net::URLRequest(server.url("/loop")));
    ASSERT_TRUE(looped.error);
    EXPECT_EQ(looped.error->domain, net::URLErrorDomain);
    EXPECT_LE(server.requests().size(), 6u + 17u);
    server.script("GET", "/file",
                  ScriptedAnswer{302, "", {{"Location", "file:///etc/passwd"}}, "", 0ms, AnswerFault::none});
    const auto elsewhere = runData(*session, net::URLRequest(server.url("/file")));
    ASSERT_TRUE(elsewhere.error);
    EXPECT_EQ(elsewhere.error->domain, net::URLErrorDomain);
    EXPECT_EQ(elsewhere.body, "");
}

TEST_F(URLSessionTest, AnHttpsOnlySessionConnectsNowhereElse)
{
    const auto& c = *certificates;
    LoopbackServer plain;
    LoopbackServer underA({&c.leafA, {}, 60s});
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->pinner.emplace(
        kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootA.der.data(), c.rootA.der.size())});
    std::mutex mutex;
    std::vector<std::string> refused;
    net::URLSessionConfiguration configuration;
    configuration.httpsOnly = true;
    configuration.maximumRedirects = 5;
    configuration.insecureURLRefused = [&](const std::string& url) {
        std::lock_guard lock(mutex);
        refused.push_back(url);
    };
    auto session = net::URLSession::sessionWithConfiguration(configuration, delegate);

    const auto direct = runData(*session, net::URLRequest(plain.url("/settings")));
    EXPECT_EQ(codeOf(direct.error), net::URLErrorAppTransportSecurityRequiresSecureConnection);
    EXPECT_NE(direct.error->localizedDescription.find(plain.url("/settings")), std::string::npos);

    // A 307 to plain http is not followed: the body never goes there.
    underA.script("POST", "/reports", ScriptedAnswer{307, "", {{"Location", plain.url("/reports")}}, "", 0ms});
    net::URLRequest post(underA.url("/reports"));
    post.httpMethod = "POST";
    post.httpBody = "secret";
    const auto redirected = runData(*session, post);
    EXPECT_EQ(codeOf(redirected.error), net::URLErrorAppTransportSecurityRequiresSecureConnection);
    EXPECT_NE(redirected.error->localizedDescription.find(plain.url("/reports")), std::string::npos);
    EXPECT_EQ(underA.requests().size(), 1u);
    EXPECT_EQ(plain.connectionCount(), 0u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(refused, (std::vector<std::string>{plain.url("/settings"), plain.url("/reports")}));
    }

    // Within https five redirects are followed (/hop/N goes on to N + 1 until 5), each hop checked by
    // the delegate; a sixth ends the task.
    underA.setHandler([](const testsupport::RecordedRequest& request) {
        const int hop = std::stoi(request.path().substr(5));
        return hop == 5 ? ScriptedAnswer{200, "", {}, "arrived", 0ms}
                        : ScriptedAnswer{302, "", {{"Location", std::to_string(hop + 1)}}, "", 0ms};
    });
    const int challengesBefore = delegate->challenges;
    const auto five = runData(*session, net::URLRequest(underA.url("/hop/0")));
    ASSERT_FALSE(five.error) << five.error->localizedDescription;
    EXPECT_EQ(five.body, "arrived");
    EXPECT_GT(delegate->challenges, challengesBefore);
    EXPECT_EQ(codeOf(runData(*session, net::URLRequest(underA.url("/hop/-1"))).error),
              net::URLErrorHTTPTooManyRedirects);
    EXPECT_EQ(underA.requests().size(), 1u + 6u + 6u);
}

TEST_F(URLSessionTest, AnAnswerPastTheCapEndsItsTaskAndLeavesNoFile)
{
    LoopbackServer server;
    const auto downloads = certificates.folder() / "capped-downloads";
    net::URLSessionConfiguration configuration;
    configuration.maximumResponseBytes = 1 << 20;
    configuration.downloadDirectory = downloads;
    auto session = net::URLSession::sessionWithConfiguration(configuration);
    server.setHandler([](const testsupport::RecordedRequest&) {
        return ScriptedAnswer{200, "", {}, "", 0ms, AnswerFault::endlessBody};
    });

    EXPECT_EQ(codeOf(runData(*session, net::URLRequest(server.url("/endless"))).error),
              net::URLErrorDataLengthExceedsMaximum);
    // A length over the cap is refused as it is announced; a body of exactly the cap arrives.
    server.script("GET", "/announced", ScriptedAnswer{200, "", {}, std::string((1 << 20) + 1, 'a'), 0ms});
    EXPECT_EQ(codeOf(runData(*session, net::URLRequest(server.url("/announced"))).error),
              net::URLErrorDataLengthExceedsMaximum);
    server.script("GET", "/whole", ScriptedAnswer{200, "", {}, std::string(1 << 20, 'w'), 0ms});
    EXPECT_EQ(runData(*session, net::URLRequest(server.url("/whole"))).body.size(), std::size_t(1) << 20);

    std::promise<std::pair<bool, std::int64_t>> done;
    session
        ->downloadTaskWithRequest(net::URLRequest(server.url("/endless")),
                                  [&](auto location, auto, auto error) {
                                      done.set_value({location.has_value(), codeOf(error)});
                                  })
        ->resume();
    const auto [located, code] = done.get_future().get();
    EXPECT_FALSE(located);
    EXPECT_EQ(code, net::URLErrorDataLengthExceedsMaximum);
    session->finishTasksAndInvalidate();
    EXPECT_TRUE(std::filesystem::is_directory(downloads));
    EXPECT_TRUE(std::filesystem::is_empty(downloads));
}

TEST_F(URLSessionTest, OnlyDownloadFilesNoTaskHoldsAreSweptUnlessAllAreAsked)
{
    LoopbackServer server;
    server.script("GET", "/stall", ScriptedAnswer{200, "", {}, std::string(4096, 's'), 0ms, AnswerFault::stallMidBody});
    const auto folder = certificates.folder() / "swept-downloads";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "horavine-download-left") << "left by an ended process";
    std::ofstream(folder / "other-file") << "not ours";
    net::URLSessionConfiguration configuration;
    configuration.downloadDirectory = folder;
    auto session = net::URLSession::sessionWithConfiguration(configuration);
    auto running = session->downloadTaskWithRequest(net::URLRequest(server.url("/stall")));
    running->resume();
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    const auto names = [&] {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            found.insert(entry.path().filename().string());
        return found;
    };
    ASSERT_EQ(names().size(), 3u);

    net::removeDownloadFiles(folder);
    auto kept = names();
    EXPECT_FALSE(kept.count("horavine-download-left"));
    EXPECT_TRUE(kept.count("other-file"));
    ASSERT_EQ(kept.size(), 2u); // the running task's file stays

    net::removeDownloadFiles(folder, true);
    EXPECT_EQ(names(), std::set<std::string>{"other-file"});
    session->invalidateAndCancel();
}

TEST_F(URLSessionTest, ARedirectsTrustChallengeNamesTheHostRedirectedTo)
{
    const auto& c = *certificates;
    LoopbackServer plain;
    LoopbackServer underA({&c.leafA, {}, 60s});
    underA.script("GET", "/there", ScriptedAnswer{200, "", {}, "secure", 0ms, AnswerFault::none});
    plain.script("GET", "/go",
                 ScriptedAnswer{302,
                                "",
                                {{"Location", "https://localhost:" + std::to_string(underA.port()) + "/there"}},
                                "",
                                0ms,
                                AnswerFault::none});
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->pinner.emplace(
        kits::KSTCertificateArray{kits::KSTCreateCertificate(c.rootA.der.data(), c.rootA.der.size())});
    auto session = net::URLSession::sessionWithConfiguration({}, delegate);
    const auto result = runData(*session, net::URLRequest(plain.url("/go")));
    ASSERT_FALSE(result.error) << result.error->localizedDescription;
    EXPECT_EQ(result.body, "secure");
    std::lock_guard lock(delegate->mutex);
    EXPECT_EQ(delegate->challengeHosts, std::vector<std::string>{"localhost"});
}
