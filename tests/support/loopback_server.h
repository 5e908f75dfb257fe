// A loopback HTTP/1.1 server for kit network tests, plain or TLS, listening on 127.0.0.1 only on a
// port the system picks. It records every request raw and plays scripted answers per method and
// path, including faulty ones (delays, a stall mid-body, a reset, a close without answer, malformed
// answers); a handler function serves stateful fakes. It stops when its life ends or when destroyed.
// Constructing one ignores SIGPIPE in the process: a client that hangs up must not kill the test.
#pragma once

#include "test_certificates.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

struct RecordedRequest {
    std::string requestLine; // as received, without its CRLF
    std::string method;
    std::string target;                                       // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers; // arrival order, names as sent
    std::string body;                                         // de-chunked when sent chunked
    bool tls = false;

    // The first header of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
    // The target without its query.
    std::string path() const;
};

enum class AnswerFault {
    none,
    stallMidBody,       // headers and half the body, then silence until the server stops
    reset,              // the connection is reset (RST) without an answer
    closeWithoutAnswer, // the connection is closed without an answer
    garbageStatusLine,  // a line that is no HTTP status line
    endlessHeader,      // a header line that never ends
    shortBody,          // Content-Length promises more than the body sent before the close
    endlessBody,        // the headers without a length, then filler until the client hangs up (64 MiB at most)
};

struct ScriptedAnswer {
    int status = 200;
    std::string reason; // empty: the usual reason text of the status
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::chrono::milliseconds delay{0}; // before anything is answered
    AnswerFault fault = AnswerFault::none;
};

using RequestHandler = std::function<ScriptedAnswer(const RecordedRequest&)>;

struct LoopbackServerOptions {
    const TestIdentity* identity = nullptr;         // TLS with this certificate and key when set
    std::vector<const TestIdentity*> intermediates; // sent after the leaf
    std::chrono::milliseconds life{std::chrono::seconds(60)};
};

class LoopbackServer {
public:
    explicit LoopbackServer(LoopbackServerOptions options = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const;
    bool isTLS() const;
    // "http://127.0.0.1:<port><path>" (https with TLS).
    std::string url(std::string_view path) const;

    // Queues an answer for the next request of that method and path; queued answers play in order,
    // each once. Requests without a queued answer go to the handler, else get 404.
    void script(std::string method, std::string path, ScriptedAnswer answer);
    void setHandler(RequestHandler handler);

    std::vector<RecordedRequest> requests() const;
    // Connections accepted so far, requests or not (a client that only shook hands counts too).
    std::size_t connectionCount() const;
    // Forgets the requests recorded so far (a long-lived server would otherwise keep every body).
    void clearRequests();
    // Whether at least `count` requests were recorded within the time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    // Closes the listener and every connection and joins the server's threads; idempotent.
    void stop();

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace testsupport
