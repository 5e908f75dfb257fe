// The response classification tables, error values and header readings of the kit network client.
#include "kits/platform/kst_network_response_handler.h"

#include "net/url_error.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

namespace kits {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The leading number of a text as the platform's string-to-double reading takes it: leading white space
// and a '+' are skipped, the longest number prefix is read, no number at all is 0. Out of range is
// infinite. Independent of the process locale.
double leadingDouble(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        return text.starts_with('-') ? -HUGE_VAL : HUGE_VAL;
    if (error != std::errc() || end == text.data())
        return 0;
    return value;
}

// The type and subtype of a media type ("application/json; charset=utf-8" gives application and json),
// white space around them dropped; empty when there is no "/".
std::pair<std::string_view, std::string_view> mediaTypeOf(std::string_view text)
{
    const auto trim = [](std::string_view part) {
        while (!part.empty() && (part.front() == ' ' || part.front() == '\t'))
            part.remove_prefix(1);
        while (!part.empty() && (part.back() == ' ' || part.back() == '\t'))
            part.remove_suffix(1);
        return part;
    };
    const std::string_view essence = text.substr(0, text.find(';'));
    const auto slash = essence.find('/');
    if (slash == std::string_view::npos)
        return {};
    return {trim(essence.substr(0, slash)), trim(essence.substr(slash + 1))};
}

} // namespace

void KSTNetworkResponseHandler::handleCompletedResponse(const net::HTTPURLResponse* response,
                                                        const net::URLRequest& request,
                                                        const std::optional<foundation::Error>& error,
                                                        const CompletionBlock& block)
{
    if (!block)
        return;
    if (error) {
        block(isRetryableTransportError(*error), error);
        return;
    }
    clientResponseType(response, [&](KSTNetworkResponseType type, long status) {
        switch (type) {
        case KSTNetworkResponseType::success:
            if (contentTypeForResponseMatchesRequest(response, request))
                block(false, std::nullopt);
            else
                block(false, errorForResponse(response, KSTNetworkResponseType::other, status));
            return;
        case KSTNetworkResponseType::other:
        case KSTNetworkResponseType::clientError: block(false, errorForResponse(response, type, status)); return;
        case KSTNetworkResponseType::retry:
        case KSTNetworkResponseType::rateLimited: block(true, errorForResponse(response, type, status)); return;
        }
    });
}

void KSTNetworkResponseHandler::clientResponseType(
    const net::HTTPURLResponse* response, const std::function<void(KSTNetworkResponseType type, long status)>& handler)
{
    if (!handler)
        return;
    const std::optional<long> status = response ? response->statusCode : std::nullopt;
    handler(responseTypeForStatus(status), status.value_or(0));
}

KSTNetworkResponseType KSTNetworkResponseHandler::responseTypeForStatus(std::optional<long> status)
{
    if (!status)
        return KSTNetworkResponseType::other;
    switch (*status) {
    case 200:
    case 201:
    case 202:
    case 204:
    case 304: return KSTNetworkResponseType::success;
    case 400:
    case 401:
    case 403:
    case 404:
    case 406:
    case 410:
    case 411:
    case 413:
    case 419:
    case 422:
    case 431: return KSTNetworkResponseType::clientError;
    case 408: return KSTNetworkResponseType::retry;
    case 420:
    case 429: return KSTNetworkResponseType::rateLimited;
    default: return *status >= 500 && *status <= 599 ? KSTNetworkResponseType::retry : KSTNetworkResponseType::other;
    }
}

bool KSTNetworkResponseHandler::isRetryableTransportError(const foundation::Error& error)
{
    if (error.domain != net::URLErrorDomain)
        return false;
    switch (error.code) {
    case net::URLErrorTimedOut:
    case net::URLErrorCannotFindHost:
    case net::URLErrorCannotConnectToHost:
    case net::URLErrorNetworkConnectionLost:
    case net::URLErrorSecureConnectionFailed: return true;
    default: return false;
    }
}

bool KSTNetworkResponseHandler::contentTypeForResponseMatchesRequest(const net::HTTPURLResponse* response,
                                                                     const net::URLRequest& request)
{
    const auto accept = request.valueForHTTPHeaderField("Accept");
    if (!accept)
        return true;
    const auto contentType = headerForResponseWithKey(response, "Content-Type");
    if (!contentType)
        return false;
    const auto [type, subtype] = mediaTypeOf(*contentType);
    if (type.empty() || subtype.empty())
        return false;
    std::string_view ranges = *accept;
    while (!ranges.empty()) {
        const auto comma = ranges.find(',');
        const auto [acceptedType, acceptedSubtype] = mediaTypeOf(ranges.substr(0, comma));
        const bool anySubtype = acceptedSubtype == "*";
        if ((acceptedType == "*" && anySubtype)
            || (equalsIgnoringCase(acceptedType, type) && (anySubtype || equalsIgnoringCase(acceptedSubtype, subtype))))
            return true;
        ranges = comma == std::string_view::npos ? std::string_view() : ranges.substr(comma + 1);
    }
    return false;
}

std::optional<foundation::Error> KSTNetworkResponseHandler::errorForResponse(const net::HTTPURLResponse* response,
                                                                             KSTNetworkResponseType type, long status)
{
    std::int64_t code = 0;
    switch (type) {
    case KSTNetworkResponseType::success: return std::nullopt;
    case KSTNetworkResponseType::other: code = KSTNetworkErrorUnexpected; break;
    case KSTNetworkResponseType::clientError: code = KSTNetworkErrorClient; break;
    case KSTNetworkResponseType::retry:
    case KSTNetworkResponseType::rateLimited: code = KSTNetworkErrorRetryable; break;
    }
    foundation::PropertyListDictionary userInfo;
    userInfo.set("type", foundation::PropertyListValue(static_cast<std::int64_t>(type)));
    userInfo.set("status_code", foundation::PropertyListValue(static_cast<std::int64_t>(status)));
    userInfo.set("request_id", foundation::PropertyListValue(requestIdForResponse(response)));
    userInfo.set("content_type",
                 foundation::PropertyListValue(headerForResponseWithKey(response, "Content-Type").value_or("")));
    return errorForCode(code, std::move(userInfo));
}

foundation::Error KSTNetworkResponseHandler::errorForCode(std::int64_t code,
                                                          foundation::PropertyListDictionary userInfo)
{
    foundation::Error error;
    error.domain = std::string(KSTNetworkErrorDomain);
    error.code = code;
    error.userInfo = std::move(userInfo);
    return error;
}

double KSTNetworkResponseHandler::retryValueForResponse(const net::HTTPURLResponse* response)
{
    constexpr double fallback = 2.0;
    const auto header = headerForResponseWithKey(response, "Retry-After");
    if (!header)
        return fallback;
    const double value = leadingDouble(*header);
    // A negative or non-finite value would make a delay that never ends or never waits.
    if (!std::isfinite(value) || value < 0)
        return fallback;
    return value;
}

std::string KSTNetworkResponseHandler::requestIdForResponse(const net::HTTPURLResponse* response)
{
    return headerForResponseWithKey(response, "X-Request-Id").value_or("");
}

std::optional<std::string> KSTNetworkResponseHandler::headerForResponseWithKey(const net::HTTPURLResponse* response,
                                                                               std::string_view key)
{
    if (!response || response->headerFields.empty())
        return std::nullopt;
    return response->valueForHTTPHeaderField(key);
}

} // namespace kits
