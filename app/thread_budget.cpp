// The arena and stack limits and the kept Qt threads.
#include "app/thread_budget.h"

#include "foundation/diagnostics.h"

#include <QDBusConnection>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <pthread.h>
#include <string>
#include <vector>

namespace app {

namespace {

constexpr int drawingThreadStartMilliseconds = 30'000;

// How many of `wanted` threads the system lets run at once, each started with the default attributes.
int countStartableThreads(int wanted)
{
    QSemaphore release;
    std::vector<pthread_t> threads;
    for (int index = 0; index < wanted; ++index) {
        pthread_t thread{};
        const auto waitForRelease = [](void* semaphore) -> void* {
            static_cast<QSemaphore*>(semaphore)->acquire();
            return nullptr;
        };
        if (const int failure = ::pthread_create(&thread, nullptr, waitForRelease, &release); failure != 0) {
            foundation::diagnostic("only " + std::to_string(index) + " of " + std::to_string(wanted)
                                   + " drawing threads can be started (" + std::strerror(failure) + ")");
            break;
        }
        threads.push_back(thread);
    }
    release.release(static_cast<int>(threads.size()));
    for (pthread_t thread : threads)
        ::pthread_join(thread, nullptr);
    return static_cast<int>(threads.size());
}

} // namespace

void limitThreadCosts()
{
    // Every thread that allocates would otherwise get an arena of its own, each reserving 64 MiB.
    ::mallopt(M_ARENA_MAX, mallocArenaLimit);
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0)
        return;
    if (::pthread_attr_setstacksize(&attributes, threadStackBytes) == 0)
        ::pthread_setattr_default_np(&attributes);
    ::pthread_attr_destroy(&attributes);
}

bool startQtThreads()
{
    const int startable = countStartableThreads(1 + std::clamp(QThread::idealThreadCount(), 1, drawingThreadLimit)) - 1;
    if (startable < 1)
        return false;
    QDBusConnection::sessionBus(); // starts the connection manager's thread, also without a bus
    QThreadPool& pool = *QThreadPool::globalInstance();
    pool.setExpiryTimeout(-1); // kept: a thread that ends would have to be started again
    pool.setMaxThreadCount(startable);
    // Each task waits until all have started, so each runs on a thread of its own. Shared with the
    // tasks: one whose thread starts only after the wait gave up still finds them.
    struct Gate {
        QSemaphore started;
        QSemaphore release;
    };
    const auto gate = std::make_shared<Gate>();
    for (int index = 0; index < startable; ++index)
        pool.start([gate] {
            gate->started.release();
            gate->release.acquire();
        });
    // Not waited for with waitForDone(): that ends the pool's threads.
    const bool allStarted = gate->started.tryAcquire(startable, drawingThreadStartMilliseconds);
    gate->release.release(startable);
    return allStarted;
}

} // namespace app
