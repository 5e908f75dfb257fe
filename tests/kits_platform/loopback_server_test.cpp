// The loopback test server driven by libcurl: recorded requests, scripted answers in order, the
// faulty answers as a client sees them, TLS against test roots, and that it listens on 127.0.0.1
// only and for a bounded life. Also the rig's gunzip and event-log reader.
#include "event_log_reader.h"
#include "gunzip.h"
#include "loopback_server.h"
#include "suite_certificates.h"

#include <gtest/gtest.h>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::AnswerFault;
using testsupport::LoopbackServer;
using testsupport::ScriptedAnswer;

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string headers;
};

struct RequestOptions {
    std::string method = "GET";
    std::string body;
    std::vector<std::string> headers;
    long timeoutMilliseconds = 10000;
    std::string caFile; // TLS: the only roots the client trusts
};

RequestOptions requestWith(std::string method, std::string body, std::vector<std::string> headers = {})
{
    RequestOptions options;
    options.method = std::move(method);
    options.body = std::move(body);
    options.headers = std::move(headers);
    return options;
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

Reply send(const std::string& url, const RequestOptions& options = {})
{
    Reply reply;
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const auto& header : options.headers)
        headers = curl_slist_append(headers, header.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMilliseconds);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, options.method.c_str());
    if (!options.body.empty() || options.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(options.body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    if (!options.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

std::string sha256(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

ScriptedAnswer faulty(AnswerFault fault, std::string body = "0123456789abcdef")
{
    ScriptedAnswer answer;
    answer.fault = fault;
    answer.body = std::move(body);
    return answer;
}

class LoopbackServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        certificates.make("horavine-loopback");
    }
    static void TearDownTestSuite()
    {
        certificates.drop();
        curl_global_cleanup();
    }
    static inline testsupport::SuiteCertificates certificates;
};

} // namespace

TEST_F(LoopbackServerTest, RecordsRequestsRawAndTheBodyWhole)
{
    LoopbackServer server;
    std::string file;
    for (int index = 0; index < 3'000'000; ++index)
        file += static_cast<char>((index * 2654435761u) >> 24);
    const auto reply = send(server.url("/upload?x=1"),
                            requestWith("POST", file, {"X-First: 1", "Content-Type: application/x-test", "X-Last: 2"}));
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests.front();
    EXPECT_EQ(request.requestLine, "POST /upload?x=1 HTTP/1.1");
    EXPECT_EQ(request.path(), "/upload");
    EXPECT_FALSE(request.tls);
    EXPECT_EQ(sha256(request.body), sha256(file));
    std::vector<std::string> names;
    for (const auto& [name, value] : request.headers)
        names.push_back(name);
    const auto first = std::find(names.begin(), names.end(), "X-First");
    const auto type = std::find(names.begin(), names.end(), "Content-Type");
    const auto last = std::find(names.begin(), names.end(), "X-Last");
    ASSERT_NE(last, names.end());
    EXPECT_TRUE(first < type && type < last); // in arrival order
    EXPECT_EQ(request.header("content-type"), "application/x-test");
}

TEST_F(LoopbackServerTest, ScriptedAnswersPlayInOrderThenTheHandlerThen404)
{
    LoopbackServer server;
    ScriptedAnswer busy;
    busy.status = 503;
    busy.headers = {{"Retry-After", "30"}, {"X-Request-Id", "req-1"}};
    ScriptedAnswer fine;
    fine.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    fine.body = "{}";
    server.script("GET", "/settings", busy);
    server.script("GET", "/settings", fine);
    const auto first = send(server.url("/settings"));
    const auto second = send(server.url("/settings?again"));
    EXPECT_EQ(first.status, 503);
    EXPECT_NE(first.headers.find("Retry-After: 30\r\n"), std::string::npos);
    EXPECT_NE(first.headers.find("X-Request-Id: req-1\r\n"), std::string::npos);
    EXPECT_EQ(second.status, 200);
    EXPECT_EQ(second.body, "{}");
    EXPECT_NE(second.headers.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);

    EXPECT_EQ(send(server.url("/settings")).status, 404);
    int served = 0;
    server.setHandler([&served](const testsupport::RecordedRequest& request) {
        ScriptedAnswer answer;
        answer.body = request.method + " " + std::to_string(++served);
        return answer;
    });
    EXPECT_EQ(send(server.url("/anything")).body, "GET 1");
    EXPECT_EQ(send(server.url("/else"), requestWith("PUT", "x")).body, "PUT 2");
    EXPECT_EQ(server.requests().size(), 5u);
}

TEST_F(LoopbackServerTest, FaultyAnswersFailTheClient)
{
    LoopbackServer server;
    server.script("GET", "/stall", faulty(AnswerFault::stallMidBody, std::string(4096, 's')));
    server.script("GET", "/reset", faulty(AnswerFault::reset));
    server.script("GET", "/close", faulty(AnswerFault::closeWithoutAnswer));
    server.script("GET", "/garbage", faulty(AnswerFault::garbageStatusLine));
    server.script("GET", "/endless", faulty(AnswerFault::endlessHeader));
    server.script("GET", "/short", faulty(AnswerFault::shortBody));
    server.script("GET", "/endless-body", faulty(AnswerFault::endlessBody));

    RequestOptions oneSecond;
    oneSecond.timeoutMilliseconds = 1000;
    const auto stalled = send(server.url("/stall"), oneSecond);
    EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(stalled.body, std::string(2048, 's'));

    const auto reset = send(server.url("/reset"));
    EXPECT_TRUE(reset.code == CURLE_RECV_ERROR || reset.code == CURLE_GOT_NOTHING) << curl_easy_strerror(reset.code);
    EXPECT_EQ(send(server.url("/close")).code, CURLE_GOT_NOTHING);
    const auto garbage = send(server.url("/garbage"));
    EXPECT_NE(garbage.code, CURLE_OK);
    EXPECT_EQ(garbage.status, 0);
    EXPECT_NE(send(server.url("/endless")).code, CURLE_OK);
    const auto shortBody = send(server.url("/short"));
    EXPECT_EQ(shortBody.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(shortBody.body, "0123456789abcdef");
    const auto endlessBody = send(server.url("/endless-body"));
    EXPECT_EQ(endlessBody.code, CURLE_OK); // the close ends a body without a length
    EXPECT_EQ(endlessBody.body, std::string(std::size_t(64) << 20, 'e'));
    EXPECT_EQ(server.requests().size(), 7u); // every request was recorded before its answer
    EXPECT_EQ(server.connectionCount(), 7u);
}

TEST_F(LoopbackServerTest, TLSWithTheTestRoots)
{
    const auto& c = *certificates;
    LoopbackServer server({&c.leafA, {}, 60s});
    ASSERT_TRUE(server.isTLS());
    server.script("GET", "/secure", ScriptedAnswer{200, "", {}, "hello", 0ms, AnswerFault::none});
    RequestOptions trustingA;
    trustingA.caFile = c.rootA.certificatePEM.string();
    const auto accepted = send(server.url("/secure"), trustingA);
    EXPECT_EQ(accepted.code, CURLE_OK) << curl_easy_strerror(accepted.code);
    EXPECT_EQ(accepted.body, "hello");
    RequestOptions trustingB;
    trustingB.caFile = c.rootB.certificatePEM.string();
    EXPECT_EQ(send(server.url("/secure"), trustingB).code, CURLE_PEER_FAILED_VERIFICATION);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u); // the refused client never sent its request
    EXPECT_TRUE(requests.front().tls);

    // A leaf under the intermediate, sent with its intermediate: a client trusting A accepts it.
    LoopbackServer chained({&c.leafUnderIntermediate, {&c.intermediateA}, 60s});
    EXPECT_EQ(send(chained.url("/"), trustingA).status, 404);
    // Sent without it, the chain cannot be built.
    LoopbackServer bare({&c.leafUnderIntermediate, {}, 60s});
    EXPECT_EQ(send(bare.url("/"), trustingA).code, CURLE_PEER_FAILED_VERIFICATION);
}

TEST_F(LoopbackServerTest, ListensOnLoopbackOnlyAndForABoundedLife)
{
    LoopbackServer server({nullptr, {}, 400ms});
    const auto port = server.port();
    ASSERT_NE(port, 0);
    // Every listening socket of this port, IPv4 or IPv6, is bound to 127.0.0.1.
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, ":%04X", port);
    int listening = 0;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream lines(table);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.ends_with(portHex)) { // LISTEN
                ++listening;
                EXPECT_EQ(local, std::string("0100007F") + portHex) << table;
            }
        }
    }
    EXPECT_EQ(listening, 1);
    // Another loopback address on the same port is refused.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in other{};
    other.sin_family = AF_INET;
    other.sin_port = htons(port);
    other.sin_addr.s_addr = htonl(0x7f000002); // 127.0.0.2
    EXPECT_NE(::connect(probe, reinterpret_cast<sockaddr*>(&other), sizeof other), 0);
    ::close(probe);

    EXPECT_EQ(send(server.url("/")).status, 404);
    // Once its life is over the server answers nothing: the port is closed.
    const auto end = std::chrono::steady_clock::now() + 10s;
    CURLcode code = CURLE_OK;
    while (code != CURLE_COULDNT_CONNECT && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(100ms);
        code = send(server.url("/")).code;
    }
    EXPECT_EQ(code, CURLE_COULDNT_CONNECT);
}

TEST(TestRigReadersTest, GunzipAndEventLogs)
{
    // gzip through zlib's file-less stream: what gzwrite writes, gunzip gives back.
    const std::string log = "1700000000000\tmetadata\t2\t{}\n1700000000001\tstart\t10\t{\"a\":\"\xc3\xa9\"}\n";
    z_stream stream{};
    ASSERT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string compressed(1024, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(log.data()));
    stream.avail_in = static_cast<uInt>(log.size());
    stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_out = static_cast<uInt>(compressed.size());
    ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    compressed.resize(stream.total_out);
    deflateEnd(&stream);
    const auto inflated = testsupport::gunzip(compressed);
    ASSERT_TRUE(inflated.bytes) << inflated.error;
    EXPECT_EQ(*inflated.bytes, log);
    EXPECT_EQ(testsupport::gunzip(compressed + compressed).bytes, log + log); // two members
    EXPECT_FALSE(testsupport::gunzip(compressed.substr(0, compressed.size() - 3)).bytes);
    EXPECT_FALSE(testsupport::gunzip("not gzip at all").bytes);

    const auto read = testsupport::readEventLog(log);
    ASSERT_TRUE(read.lines) << read.error;
    ASSERT_EQ(read.lines->size(), 2u);
    EXPECT_EQ((*read.lines)[1].timestampMilliseconds, 1700000000001u);
    EXPECT_EQ((*read.lines)[1].name, "start");
    EXPECT_EQ((*read.lines)[1].payload, "{\"a\":\"\xc3\xa9\"}");
    for (const std::string bad :
         {"1\tx\t2\t{}", "1\tx\t3\t{}\n", "1\tx\t2\n", "a\tx\t2\t{}\n", "1\t\t2\t{}\n", "1\tx\t2\t{}\r\n"})
        EXPECT_FALSE(testsupport::readEventLog(bad).lines) << bad;
}
