// The loopback server on POSIX sockets and OpenSSL: one accepting thread, one thread per
// connection, blocking sockets with short time-outs so every thread notices a stop quickly.
#include "loopback_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr std::size_t headerLimit = 64 * 1024;
constexpr std::size_t bodyLimit = std::size_t(1) << 30;
constexpr std::chrono::milliseconds pollSlice{50};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string reasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (equalsIgnoringCase(key, name))
            return value;
    return std::nullopt;
}

std::string RecordedRequest::path() const
{
    return target.substr(0, target.find('?'));
}

struct LoopbackServer::State {
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable changed; // a request was recorded, or the server is stopping
    std::vector<RecordedRequest> recorded;
    std::map<std::pair<std::string, std::string>, std::deque<ScriptedAnswer>> scripts;
    RequestHandler handler;
    std::set<int> openSockets;
    std::vector<std::thread> connections;
    std::size_t accepted = 0;
    std::thread acceptor;
    std::mutex stopMutex; // serialises stop()
    int listener = -1;
    std::uint16_t port = 0;
    SSL_CTX* tls = nullptr;

    // Sleeps until the time passes or the server stops; returns whether it is still running.
    bool sleepFor(std::chrono::milliseconds duration)
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, duration, [this] { return stopping.load(); });
        return !stopping;
    }

    void beginStop()
    {
        std::lock_guard lock(mutex);
        stopping = true;
        for (const int socket : openSockets)
            ::shutdown(socket, SHUT_RDWR);
        changed.notify_all();
    }

    ScriptedAnswer answerFor(const RecordedRequest& request)
    {
        RequestHandler serve;
        {
            std::lock_guard lock(mutex);
            auto found = scripts.find({request.method, request.path()});
            if (found != scripts.end() && !found->second.empty()) {
                ScriptedAnswer answer = std::move(found->second.front());
                found->second.pop_front();
                return answer;
            }
            serve = handler;
        }
        if (serve)
            return serve(request);
        ScriptedAnswer missing;
        missing.status = 404;
        missing.body = "no script for " + request.method + " " + request.path();
        return missing;
    }

    void record(RecordedRequest request)
    {
        std::lock_guard lock(mutex);
        recorded.push_back(std::move(request));
        changed.notify_all();
    }
};

namespace {

// A connection's byte channel, plain or TLS; reads and writes give up once the server stops.
class Channel {
public:
    Channel(LoopbackServer::State& state, int socket) : state_(state), socket_(socket) {}
    ~Channel()
    {
        if (ssl_)
            SSL_free(ssl_);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool startTLS(SSL_CTX* context)
    {
        ssl_ = SSL_new(context);
        if (!ssl_ || SSL_set_fd(ssl_, socket_) != 1)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!state_.stopping && std::chrono::steady_clock::now() < deadline) {
            const int result = SSL_accept(ssl_);
            if (result == 1)
                return true;
            if (!retryable(result))
                break;
        }
        ERR_clear_error();
        return false;
    }
    bool isTLS() const { return ssl_ != nullptr; }

    // Bytes read; 0 when the peer closed, the server stopped or the connection failed.
    std::size_t read(char* buffer, std::size_t size)
    {
        while (!state_.stopping) {
            if (ssl_) {
                const int result = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
                if (result > 0)
                    return static_cast<std::size_t>(result);
                if (!retryable(result))
                    return 0;
            } else {
                const ssize_t result = ::recv(socket_, buffer, size, 0);
                if (result > 0)
                    return static_cast<std::size_t>(result);
                if (result == 0 || (errno != EAGAIN && errno != EINTR))
                    return 0;
            }
        }
        return 0;
    }

    bool writeAll(std::string_view data)
    {
        while (!data.empty()) {
            if (state_.stopping)
                return false;
            std::size_t written = 0;
            if (ssl_) {
                const int result =
                    SSL_write(ssl_, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
                if (result > 0)
                    written = static_cast<std::size_t>(result);
                else if (!retryable(result))
                    return false;
            } else {
                const ssize_t result = ::send(socket_, data.data(), data.size(), MSG_NOSIGNAL);
                if (result > 0)
                    written = static_cast<std::size_t>(result);
                else if (result == 0 || (errno != EAGAIN && errno != EINTR))
                    return false;
            }
            data.remove_prefix(written);
        }
        return true;
    }

    void reset()
    {
        const linger abort{1, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }

private:
    bool retryable(int result)
    {
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            return true;
        if (error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EINTR)) {
            ERR_clear_error();
            return true;
        }
        ERR_clear_error();
        return false;
    }

    LoopbackServer::State& state_;
    int socket_;
    SSL* ssl_ = nullptr;
};

// Reads one request from the channel; `buffer` keeps bytes that arrived beyond it. Nothing when the
// peer closed or sent something that is no request (then `refusal` holds a status to answer, if any).
std::optional<RecordedRequest> readRequest(Channel& channel, std::string& buffer, int& refusal)
{
    refusal = 0;
    char chunk[65536];
    const auto fill = [&]() {
        const std::size_t count = channel.read(chunk, sizeof chunk);
        buffer.append(chunk, count);
        return count > 0;
    };
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > headerLimit) {
            refusal = 431;
            return std::nullopt;
        }
        if (!fill())
            return std::nullopt;
    }
    RecordedRequest request;
    request.tls = channel.isTLS();
    const std::string head = buffer.substr(0, headEnd);
    buffer.erase(0, headEnd + 4);
    std::size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        std::size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = head.size();
        const std::string_view line(head.data() + lineStart, lineEnd - lineStart);
        if (first) {
            request.requestLine = line;
            const auto space = line.find(' ');
            const auto lastSpace = line.rfind(' ');
            if (space == std::string_view::npos || lastSpace == space
                || !line.substr(lastSpace + 1).starts_with("HTTP/1.")) {
                refusal = 400;
                return std::nullopt;
            }
            request.method = line.substr(0, space);
            request.target = line.substr(space + 1, lastSpace - space - 1);
            first = false;
        } else {
            const auto colon = line.find(':');
            if (colon == std::string_view::npos || colon == 0) {
                refusal = 400;
                return std::nullopt;
            }
            request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
        }
        lineStart = lineEnd + 2;
    }

    if (const auto expect = request.header("Expect"); expect && equalsIgnoringCase(*expect, "100-continue"))
        if (!channel.writeAll("HTTP/1.1 100 Continue\r\n\r\n"))
            return std::nullopt;

    const auto encoding = request.header("Transfer-Encoding");
    if (encoding && equalsIgnoringCase(*encoding, "chunked")) {
        while (true) {
            std::size_t lineEnd;
            while ((lineEnd = buffer.find("\r\n")) == std::string::npos)
                if (buffer.size() > headerLimit || !fill())
                    return std::nullopt;
            std::size_t size = 0;
            try {
                size = std::stoull(buffer.substr(0, lineEnd), nullptr, 16);
            } catch (const std::exception&) {
                refusal = 400;
                return std::nullopt;
            }
            if (size > bodyLimit - request.body.size()) {
                refusal = 400;
                return std::nullopt;
            }
            buffer.erase(0, lineEnd + 2);
            while (buffer.size() < size + 2)
                if (!fill())
                    return std::nullopt;
            if (size == 0) {
                // No trailers are expected: the last chunk's line ends the body.
                buffer.erase(0, 2);
                break;
            }
            request.body.append(buffer, 0, size);
            buffer.erase(0, size + 2);
        }
    } else if (const auto length = request.header("Content-Length")) {
        if (length->empty() || length->find_first_not_of("0123456789") != std::string::npos || length->size() > 12
            || std::stoull(*length) > bodyLimit) {
            refusal = 400;
            return std::nullopt;
        }
        const std::size_t size = std::stoull(*length);
        while (buffer.size() < size)
            if (!fill())
                return std::nullopt;
        request.body = buffer.substr(0, size);
        buffer.erase(0, size);
    }
    return request;
}

std::string responseHead(const ScriptedAnswer& answer, std::size_t contentLength)
{
    std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " "
                       + (answer.reason.empty() ? reasonOf(answer.status) : answer.reason) + "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : answer.headers) {
        head += name + ": " + value + "\r\n";
        hasLength = hasLength || equalsIgnoringCase(name, "Content-Length");
    }
    if (!hasLength)
        head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    return head + "\r\n";
}

// Plays the answer; returns whether the connection may carry another request.
bool play(LoopbackServer::State& state, Channel& channel, const ScriptedAnswer& answer)
{
    if (answer.delay.count() > 0 && !state.sleepFor(answer.delay))
        return false;
    switch (answer.fault) {
    case AnswerFault::none: return channel.writeAll(responseHead(answer, answer.body.size()) + answer.body);
    case AnswerFault::stallMidBody:
        channel.writeAll(responseHead(answer, answer.body.size()) + answer.body.substr(0, answer.body.size() / 2));
        while (state.sleepFor(std::chrono::seconds(1))) {}
        return false;
    case AnswerFault::reset: channel.reset(); return false;
    case AnswerFault::closeWithoutAnswer: return false;
    case AnswerFault::garbageStatusLine: channel.writeAll("GARBAGE-NOT-HTTP\r\n\r\n"); return false;
    case AnswerFault::endlessHeader: {
        if (!channel.writeAll("HTTP/1.1 200 OK\r\nX-Endless: "))
            return false;
        const std::string filler(16384, 'a');
        for (int round = 0; round < 4096 && channel.writeAll(filler); ++round) { // at most 64 MiB
        }
        return false;
    }
    case AnswerFault::shortBody:
        channel.writeAll(responseHead(answer, answer.body.size() + 100) + answer.body);
        return false;
    case AnswerFault::endlessBody: {
        // No length: the body ends only when the connection does.
        std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " "
                           + (answer.reason.empty() ? reasonOf(answer.status) : answer.reason) + "\r\n";
        for (const auto& [name, value] : answer.headers)
            head += name + ": " + value + "\r\n";
        if (!channel.writeAll(head + "Connection: close\r\n\r\n"))
            return false;
        const std::string filler(16384, 'e');
        for (int round = 0; round < 4096 && channel.writeAll(filler); ++round) { // at most 64 MiB
        }
        return false;
    }
    }
    return false;
}

void serveConnection(LoopbackServer::State& state, int socket)
{
    {
        Channel channel(state, socket);
        if (!state.tls || channel.startTLS(state.tls)) {
            std::string buffer;
            while (!state.stopping) {
                int refusal = 0;
                auto request = readRequest(channel, buffer, refusal);
                if (!request) {
                    if (refusal != 0) {
                        ScriptedAnswer refused;
                        refused.status = refusal;
                        refused.headers = {{"Connection", "close"}};
                        channel.writeAll(responseHead(refused, 0));
                    }
                    break;
                }
                const auto connection = request->header("Connection");
                const bool closeAfter = connection && equalsIgnoringCase(*connection, "close");
                state.record(*request);
                const ScriptedAnswer answer = state.answerFor(*request);
                if (!play(state, channel, answer) || closeAfter)
                    break;
            }
        }
    }
    std::lock_guard lock(state.mutex);
    state.openSockets.erase(socket);
    ::close(socket);
}

void acceptConnections(const std::shared_ptr<LoopbackServer::State>& state, std::chrono::steady_clock::time_point end)
{
    while (!state->stopping) {
        if (std::chrono::steady_clock::now() >= end) {
            state->beginStop(); // the server's life is over
            break;
        }
        pollfd listening{state->listener, POLLIN, 0};
        if (::poll(&listening, 1, static_cast<int>(pollSlice.count())) <= 0)
            continue;
        const int socket = ::accept4(state->listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        const timeval slice{0, static_cast<suseconds_t>(pollSlice.count() * 1000)};
        ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
        ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
        std::lock_guard lock(state->mutex);
        if (state->stopping) {
            ::close(socket);
            break;
        }
        state->openSockets.insert(socket);
        ++state->accepted;
        state->connections.emplace_back([state, socket] { serveConnection(*state, socket); });
    }
    // Nothing listens once the server stops or its life ends.
    ::close(state->listener);
    state->listener = -1;
}

SSL_CTX* makeTLSContext(const LoopbackServerOptions& options)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        throw std::runtime_error("loopback server: SSL_CTX_new");
    bool ok = SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1
              && SSL_CTX_use_certificate(context, options.identity->certificate.get()) == 1
              && SSL_CTX_use_PrivateKey(context, options.identity->key.get()) == 1
              && SSL_CTX_check_private_key(context) == 1;
    for (const auto* intermediate : options.intermediates) {
        X509* copy = X509_dup(intermediate->certificate.get());
        ok = ok && copy && SSL_CTX_add_extra_chain_cert(context, copy) == 1;
    }
    if (!ok) {
        SSL_CTX_free(context);
        throw std::runtime_error("loopback server: cannot set the server's certificate");
    }
    return context;
}

} // namespace

LoopbackServer::LoopbackServer(LoopbackServerOptions options) : state_(std::make_shared<State>())
{
    std::signal(SIGPIPE, SIG_IGN);
    if (options.identity)
        state_->tls = makeTLSContext(options);
    state_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (state_->listener < 0 || ::bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(state_->listener, 64) != 0
        || ::getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string why = std::strerror(errno);
        if (state_->listener >= 0)
            ::close(state_->listener);
        if (state_->tls)
            SSL_CTX_free(state_->tls);
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1: " + why);
    }
    state_->port = ntohs(address.sin_port);
    const auto end = std::chrono::steady_clock::now() + options.life;
    state_->acceptor = std::thread([state = state_, end] { acceptConnections(state, end); });
}

LoopbackServer::~LoopbackServer()
{
    stop();
}

void LoopbackServer::stop()
{
    std::lock_guard stopLock(state_->stopMutex);
    state_->beginStop();
    if (state_->acceptor.joinable())
        state_->acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(state_->mutex);
        connections.swap(state_->connections);
    }
    for (auto& connection : connections)
        connection.join();
    if (state_->tls) {
        SSL_CTX_free(state_->tls);
        state_->tls = nullptr;
    }
}

std::uint16_t LoopbackServer::port() const
{
    return state_->port;
}

bool LoopbackServer::isTLS() const
{
    return state_->tls != nullptr;
}

std::string LoopbackServer::url(std::string_view path) const
{
    return std::string(isTLS() ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) + std::string(path);
}

void LoopbackServer::script(std::string method, std::string path, ScriptedAnswer answer)
{
    std::lock_guard lock(state_->mutex);
    state_->scripts[{std::move(method), std::move(path)}].push_back(std::move(answer));
}

void LoopbackServer::setHandler(RequestHandler handler)
{
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

std::vector<RecordedRequest> LoopbackServer::requests() const
{
    std::lock_guard lock(state_->mutex);
    return state_->recorded;
}

std::size_t LoopbackServer::connectionCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->accepted;
}

void LoopbackServer::clearRequests()
{
    std::lock_guard lock(state_->mutex);
    state_->recorded.clear();
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->recorded.size() >= count; });
}

} // namespace testsupport
