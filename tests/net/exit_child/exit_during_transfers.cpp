// A process that returns from main while its URL session's thread is in the middle of TLS handshakes
// and transfers, as the program does when it quits with kit uploads under way (the kits' sessions
// belong to objects that live until the process ends). It must end with status 0, not a crash.
#include "net/url_session.h"

#include "hooks/default_trust_store_hook.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

// Touched by completions that may still come while the process exits, so never on main's stack.
std::atomic<int> completed = 0;
std::atomic<int> started = 0;
// Never released, as the kits' sessions are not: its thread is still working while the process exits.
// (Held through a pointer, so no destructor at exit joins its thread.)
std::shared_ptr<net::URLSession>* session = nullptr;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2; // usage: exit_during_transfers <https URL> <CA file>
    // Registered first, so it runs last: the exit lingers after every other handler, as the program's
    // does while its libraries tear down, and the session's thread goes on working meanwhile.
    std::atexit([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
    net::testhooks::setDefaultTrustStoreFile(argv[2]);
    session = new std::shared_ptr<net::URLSession>(
        net::URLSession::sessionWithConfiguration(net::URLSessionConfiguration{}, nullptr, nullptr));
    if (!*session)
        return 3;
    constexpr int inFlight = 8;
    const std::string url = argv[1];
    const auto startOne = [&] {
        ++started;
        (*session)->dataTaskWithRequest(net::URLRequest(url), [](std::string, auto, auto) { ++completed; })->resume();
    };
    for (int task = 0; task < inFlight; ++task)
        startOne();
    // Keep handshakes going until a few rounds went through, then leave with eight under way.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (completed < 3 * inFlight) {
        if (std::chrono::steady_clock::now() > end)
            return 4;
        while (started - completed < inFlight)
            startOne();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    while (started - completed < inFlight)
        startOne();
    return 0;
}
