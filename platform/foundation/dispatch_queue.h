// Serial work queues of our own in place of the platform's dispatch queues: each queue has one
// thread that runs its work in order; sync() runs work on the caller's thread once everything queued
// before it has run, while the queue waits. A small pool serves "global" work, and the main queue is
// the executor the host hands in (the kits' work falls back to the pool without one). Each queue and
// pool thread records its kernel thread id and label in a fixed table a signal handler may read, and
// carries a short form of its label as its thread name.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace foundation {

using Work = std::function<void()>;

class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    // Runs the work already queued, then ends the thread. Never destroy a queue from its own work.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(Work work);
    // Runs `work` on the calling thread after all earlier work, while the queue waits; never call it
    // from work running on this queue (it would wait for itself).
    void sync(const Work& work);
    // True on the queue's thread and inside a sync() on it.
    bool isCurrent() const;

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable workArrived_;
    std::deque<Work> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

// A few threads for work that needs no order of its own.
class WorkerPool {
public:
    // The process-wide pool ("global queue"), never destroyed.
    static WorkerPool& global();
    // Starts up to `threads` threads (at least one): where the system lets fewer start (a tight
    // address-space limit), the pool works with those; without any it throws std::system_error.
    WorkerPool(std::string label, std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void async(Work work);

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable workArrived_;
    std::deque<Work> pending_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The host's main-thread executor (the app's event loop); any thread may hand it work.
class MainQueue {
public:
    // Nullptr: no main queue; work goes to the global pool. Returns once calls of the previous
    // executor on other threads have ended, so its owner may then tear down what it reaches.
    static void setExecutor(std::function<void(Work)> executor);
    static void async(Work work);
};

// The labels of the queue threads, for a signal handler: fixed storage, no locks, no allocation.
inline constexpr std::size_t queueThreadTableSize = 128;
inline constexpr std::size_t queueLabelCapacity = 96; // with the terminating NUL
// Copies the label of the queue thread `thread` (a kernel thread id) into `label`; false when that
// thread is no queue thread. Async-signal-safe.
bool queueLabelOfThread(pid_t thread, char* label, std::size_t capacity);

// The name a queue thread carries in the kernel, which keeps 15 bytes: the label's last dot-separated
// part (the kits' queues share their reverse-domain prefix, so its start would name them all alike),
// cut at 15 bytes but never inside a UTF-8 sequence. Queue and pool threads name themselves so.
inline constexpr std::size_t threadNameCapacity = 15;
std::string threadNameOfLabel(std::string_view label);
// Names the calling thread `name`, cut as above (a debugger, /proc and the crash kit's reports show it).
void nameCurrentThread(std::string_view name);
// The calling thread's kernel id. Async-signal-safe.
pid_t currentThreadId();

} // namespace foundation
