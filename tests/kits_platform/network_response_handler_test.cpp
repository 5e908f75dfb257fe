// The kit network response handler and back-off: status classes, error values and their user
// information, the content-type check, "Retry-After" readings (hostile ones included), delays
// within their bounds, and seeded random responses classified without a crash.
#include "kits/platform/kst_network_response_handler.h"
#include "kits/platform/kst_network_retry_delay.h"

#include "net/url_error.h"

#include "mutator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using kits::KSTNetworkResponseHandler;
using kits::KSTNetworkResponseType;

net::HTTPURLResponse response(std::optional<long> status, std::vector<std::pair<std::string, std::string>> headers = {})
{
    net::HTTPURLResponse answer;
    answer.url = "https://h.test/";
    answer.statusCode = status;
    for (auto& [name, value] : headers)
        answer.headerFields.add(std::move(name), std::move(value));
    return answer;
}

struct Outcome {
    int calls = 0;
    bool retry = false;
    std::optional<foundation::Error> error;
};

Outcome handle(const net::HTTPURLResponse* answer, const net::URLRequest& request = {},
               const std::optional<foundation::Error>& transport = std::nullopt)
{
    Outcome outcome;
    KSTNetworkResponseHandler::handleCompletedResponse(answer, request, transport,
                                                       [&](bool retry, std::optional<foundation::Error> error) {
                                                           ++outcome.calls;
                                                           outcome.retry = retry;
                                                           outcome.error = std::move(error);
                                                       });
    return outcome;
}

} // namespace

TEST(NetworkResponseHandlerTest, StatusClasses)
{
    using Type = KSTNetworkResponseType;
    const std::vector<std::pair<std::optional<long>, Type>> cases{
        {200, Type::success},        {201, Type::success},     {202, Type::success},     {204, Type::success},
        {304, Type::success},        {203, Type::other},       {499, Type::other},       {600, Type::other},
        {std::nullopt, Type::other}, {100, Type::other},       {400, Type::clientError}, {401, Type::clientError},
        {403, Type::clientError},    {404, Type::clientError}, {406, Type::clientError}, {410, Type::clientError},
        {411, Type::clientError},    {413, Type::clientError}, {419, Type::clientError}, {422, Type::clientError},
        {431, Type::clientError},    {405, Type::other},       {408, Type::retry},       {500, Type::retry},
        {503, Type::retry},          {599, Type::retry},       {420, Type::rateLimited}, {429, Type::rateLimited},
    };
    for (const auto& [status, type] : cases)
        EXPECT_EQ(KSTNetworkResponseHandler::responseTypeForStatus(status), type) << status.value_or(-1);

    // What the block hears: errors -4 and -5 are final, -1 is retried.
    for (const long status : {203L, 499L, 600L}) {
        const auto answer = response(status);
        const auto outcome = handle(&answer);
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_FALSE(outcome.retry);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain, "KSTNetworkError");
        EXPECT_EQ(outcome.error->code, -4);
    }
    EXPECT_EQ(handle(nullptr).error->code, -4); // no response at all: no status
    const auto notModified = response(304);
    EXPECT_FALSE(handle(&notModified).error);
    const auto notFound = response(404);
    EXPECT_EQ(handle(&notFound).error->code, -5);
    for (const long status : {408L, 500L, 599L, 420L, 429L}) {
        const auto answer = response(status);
        const auto outcome = handle(&answer);
        EXPECT_TRUE(outcome.retry) << status;
        EXPECT_EQ(outcome.error->code, -1) << status;
    }
}

TEST(NetworkResponseHandlerTest, ErrorUserInformation)
{
    const auto answer = response(429, {{"Content-Type", "text/plain"}, {"X-Request-Id", "abc-1"}});
    const auto error = KSTNetworkResponseHandler::errorForResponse(&answer, KSTNetworkResponseType::rateLimited, 429);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1);
    std::vector<std::string> keys;
    for (const auto& entry : error->userInfo.entries())
        keys.push_back(entry.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"type", "status_code", "request_id", "content_type"}));
    EXPECT_EQ(*error->userInfo.get<std::int64_t>("type"), 4);
    EXPECT_EQ(*error->userInfo.get<std::int64_t>("status_code"), 429);
    EXPECT_EQ(*error->userInfo.get<std::string>("request_id"), "abc-1");
    EXPECT_EQ(*error->userInfo.get<std::string>("content_type"), "text/plain");

    const auto bare = response(500);
    const auto plain = KSTNetworkResponseHandler::errorForResponse(&bare, KSTNetworkResponseType::retry, 500);
    EXPECT_EQ(*plain->userInfo.get<std::string>("request_id"), "");
    EXPECT_EQ(*plain->userInfo.get<std::string>("content_type"), "");
    EXPECT_FALSE(KSTNetworkResponseHandler::errorForResponse(&bare, KSTNetworkResponseType::success, 200));
    EXPECT_TRUE(KSTNetworkResponseHandler::errorForCode(-6, {}).userInfo.entries().empty());
}

TEST(NetworkResponseHandlerTest, ConnectionFailuresRetryLikeTimeOutsRefusalsDoNot)
{
    // Time-out, DNS, refused, reset or closed before an answer, a broken handshake: retried, the error
    // passed on unchanged.
    for (const std::int64_t code :
         {net::URLErrorTimedOut, net::URLErrorCannotFindHost, net::URLErrorCannotConnectToHost,
          net::URLErrorNetworkConnectionLost, net::URLErrorSecureConnectionFailed}) {
        foundation::Error failure{std::string(net::URLErrorDomain), code, "", {}, "", {}};
        const auto outcome = handle(nullptr, {}, failure);
        EXPECT_TRUE(outcome.retry) << code;
        EXPECT_EQ(outcome.error->code, code);
        EXPECT_EQ(outcome.error->domain, net::URLErrorDomain);
    }
    // A refused certificate, a cancel, an https refusal, a cap or a bad answer: final.
    for (const std::int64_t code :
         {net::URLErrorServerCertificateUntrusted, net::URLErrorCancelled,
          net::URLErrorAppTransportSecurityRequiresSecureConnection, net::URLErrorDataLengthExceedsMaximum,
          net::URLErrorBadServerResponse, net::URLErrorHTTPTooManyRedirects, net::URLErrorFileDoesNotExist}) {
        foundation::Error other{std::string(net::URLErrorDomain), code, "", {}, "", {}};
        const auto outcome = handle(nullptr, {}, other);
        EXPECT_FALSE(outcome.retry) << code;
        EXPECT_EQ(outcome.error->code, code);
    }
    foundation::Error elsewhere{"OtherDomain", net::URLErrorTimedOut, "", {}, "", {}};
    EXPECT_FALSE(handle(nullptr, {}, elsewhere).retry);
}

TEST(NetworkResponseHandlerTest, ContentTypeMustMatchTheAcceptHeader)
{
    net::URLRequest json("https://h.test/");
    json.setValueForHTTPHeaderField("application/json", "Accept");
    const auto matches = [&](const net::URLRequest& request, std::optional<std::string> contentType) {
        auto answer = response(200);
        if (contentType)
            answer.headerFields.add("Content-Type", *contentType);
        return KSTNetworkResponseHandler::contentTypeForResponseMatchesRequest(&answer, request);
    };
    // Type and subtype, without regard to case; parameters, however written, play no part.
    for (const char* type : {"application/json", "Application/JSON; charset=whatever", "application/json;charset=utf-8",
                             "application/json; charset=\"utf-8\"", " application/json ; charset=UTF-8"})
        EXPECT_TRUE(matches(json, type)) << type;
    for (const char* type : {"text/html", "application/jsonx", "application/json-seq", "application", "", "/json"})
        EXPECT_FALSE(matches(json, type)) << type;
    EXPECT_FALSE(matches(json, std::nullopt));
    EXPECT_TRUE(matches(net::URLRequest("https://h.test/"), std::nullopt)); // no Accept: anything goes

    net::URLRequest withCharset = json;
    withCharset.setValueForHTTPHeaderField("utf-8", "Accept-Charset");
    EXPECT_TRUE(matches(withCharset, "Application/JSON; charset=UTF-8"));
    EXPECT_TRUE(matches(withCharset, "application/json; charset=latin1"));
    EXPECT_TRUE(matches(withCharset, "application/json"));

    // A list of ranges, with parameters and wild cards.
    net::URLRequest ranges("https://h.test/");
    ranges.setValueForHTTPHeaderField("text/plain;q=0.5, application/*", "Accept");
    EXPECT_TRUE(matches(ranges, "application/problem+json"));
    EXPECT_TRUE(matches(ranges, "TEXT/plain"));
    EXPECT_FALSE(matches(ranges, "text/html"));
    ranges.setValueForHTTPHeaderField("*/*", "Accept");
    EXPECT_TRUE(matches(ranges, "image/png"));

    // A success with the wrong type is an error of type other, not retried.
    auto html = response(200, {{"Content-Type", "text/html"}});
    const auto outcome = handle(&html, json);
    EXPECT_FALSE(outcome.retry);
    EXPECT_EQ(outcome.error->code, -4);
    EXPECT_EQ(*outcome.error->userInfo.get<std::int64_t>("type"), 1);
    EXPECT_EQ(*outcome.error->userInfo.get<std::int64_t>("status_code"), 200);
}

TEST(NetworkResponseHandlerTest, RetryAfterReadings)
{
    const auto retryAfter = [](std::optional<std::string> value) {
        auto answer = response(503);
        if (value)
            answer.headerFields.add("Retry-After", *value);
        return KSTNetworkResponseHandler::retryValueForResponse(&answer);
    };
    EXPECT_EQ(retryAfter(std::nullopt), 2.0);
    EXPECT_EQ(retryAfter("30"), 30.0);
    EXPECT_EQ(retryAfter(" +1.5"), 1.5);
    EXPECT_EQ(retryAfter("-5"), 2.0);
    EXPECT_EQ(retryAfter("Wed, 21 Oct 2026 07:28:00 GMT"), 0.0);
    EXPECT_EQ(retryAfter("inf"), 2.0);
    EXPECT_EQ(retryAfter("nan"), 2.0);
    EXPECT_EQ(retryAfter("1e400"), 2.0);
    EXPECT_EQ(retryAfter("1e308"), 1e308);
    EXPECT_EQ(KSTNetworkResponseHandler::retryValueForResponse(nullptr), 2.0);
}

TEST(NetworkRetryDelayTest, DelaysGrowWithTheTriesAndStayBounded)
{
    const auto delay = [](std::optional<std::string> retryAfter, std::uint64_t tries, double jitter) {
        auto answer = response(503);
        if (retryAfter)
            answer.headerFields.add("Retry-After", *retryAfter);
        return kits::KSTComputeRetryDelayWithJitter(&answer, tries, jitter);
    };
    EXPECT_EQ(delay(std::nullopt, 0, 1.0), 2.0);
    EXPECT_EQ(delay(std::nullopt, 1, 1.0), 2.0);
    EXPECT_EQ(delay(std::nullopt, 2, 1.0), 4.0);
    EXPECT_EQ(delay(std::nullopt, 4, 1.0), 16.0);
    EXPECT_EQ(delay("30", 0, 1.0), 30.0);
    EXPECT_EQ(delay("30", 2, 1.0), 900.0);
    EXPECT_EQ(delay("0.5", 1, 1.0), 2.0); // never less than 2 s before the jitter
    EXPECT_DOUBLE_EQ(delay(std::nullopt, 1, 1.1), 2.2);
    for (const char* hostile : {"inf", "nan", "1e308", "-5", "1e400"})
        for (const std::uint64_t tries : {0ull, 1ull, 2ull, 10ull, ~0ull}) {
            const double value = delay(hostile, tries, 1.1);
            EXPECT_TRUE(std::isfinite(value)) << hostile;
            EXPECT_GE(value, 0.0) << hostile;
            EXPECT_LE(value, kits::KSTNetworkMaximumRetryDelay) << hostile;
        }
    for (int draw = 0; draw < 1000; ++draw) {
        const double jitter = kits::KSTGenerateRandomJitter();
        EXPECT_GE(jitter, 0.8999999761581421);
        EXPECT_LT(jitter, 1.100000023841858);
    }
}

// Seeded random responses: statuses of every size, header sets with hostile names and values. Every
// response is classified exactly once and every delay is finite and within the cap.
TEST(NetworkResponseHandlerTest, RandomResponsesAreClassifiedWithoutCrashOrUnboundedDelays)
{
    std::mt19937_64 random(testsupport::fuzzSeed(29));
    const std::vector<std::string> names{"Retry-After", "retry-after", "X-Request-Id", "Content-Type", "Accept", ""};
    const std::vector<std::string> values{"30",
                                          "-1",
                                          "inf",
                                          "-inf",
                                          "nan",
                                          "1e308",
                                          "1e-308",
                                          "0x1p99",
                                          "",
                                          " ",
                                          "application/json; charset=",
                                          "; charset=utf-8",
                                          "9999999999999999999999"};
    net::URLRequest request("https://h.test/");
    request.setValueForHTTPHeaderField("application/json", "Accept");
    request.setValueForHTTPHeaderField("utf-8", "Accept-Charset");
    const std::size_t count = testsupport::fuzzMutationCount();
    for (std::size_t index = 0; index < count; ++index) {
        net::HTTPURLResponse answer;
        switch (random() % 4) {
        case 0: answer.statusCode = std::nullopt; break;
        case 1: answer.statusCode = static_cast<long>(random() % 1000); break;
        default: answer.statusCode = static_cast<long>(random()); break;
        }
        const auto headerCount = random() % 6;
        for (std::uint64_t header = 0; header < headerCount; ++header) {
            std::string value = values[random() % values.size()];
            if (random() % 3 == 0)
                for (int extra = static_cast<int>(random() % 8); extra > 0; --extra)
                    value += static_cast<char>(random());
            answer.headerFields.add(names[random() % names.size()], std::move(value));
        }
        const auto outcome = handle(&answer, request);
        ASSERT_EQ(outcome.calls, 1) << "input " << index;
        const double delay = kits::KSTComputeRetryDelay(&answer, random() % 64);
        ASSERT_TRUE(std::isfinite(delay) && delay >= 0 && delay <= kits::KSTNetworkMaximumRetryDelay)
            << "input " << index << ": " << delay;
    }
}
