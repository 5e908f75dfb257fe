// Serial queues, the worker pool, the main-queue hand-over and the lock-free table of queue threads.
#include "foundation/dispatch_queue.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace foundation {

namespace {

// One slot per live queue thread. A slot is claimed by swapping its thread id from 0; the label is
// written before `ready` is set, and a reader only trusts a slot whose `ready` it saw set.
struct QueueThreadSlot {
    std::atomic<pid_t> thread{0};
    std::atomic<bool> ready{false};
    char label[queueLabelCapacity];
};
QueueThreadSlot queueThreads[queueThreadTableSize];

class QueueThreadRecord {
public:
    explicit QueueThreadRecord(const std::string& label)
    {
        nameCurrentThread(threadNameOfLabel(label));
        const pid_t self = currentThreadId();
        for (auto& slot : queueThreads) {
            pid_t expected = 0;
            if (slot.thread.compare_exchange_strong(expected, self)) {
                const std::size_t length = std::min(label.size(), queueLabelCapacity - 1);
                std::memcpy(slot.label, label.data(), length);
                slot.label[length] = '\0';
                slot.ready.store(true, std::memory_order_release);
                slot_ = &slot;
                return;
            }
        }
        // A full table leaves this thread unlabelled; nothing else depends on it.
    }
    ~QueueThreadRecord()
    {
        if (!slot_)
            return;
        slot_->ready.store(false, std::memory_order_release);
        slot_->thread.store(0, std::memory_order_release);
    }
    QueueThreadRecord(const QueueThreadRecord&) = delete;
    QueueThreadRecord& operator=(const QueueThreadRecord&) = delete;

private:
    QueueThreadSlot* slot_ = nullptr;
};

thread_local const SerialQueue* currentSerialQueue = nullptr;

// At most the bytes a thread name holds; a cut that would split a character leaves it out whole.
std::string_view cutToThreadName(std::string_view name)
{
    std::size_t length = std::min(name.size(), threadNameCapacity);
    while (length > 0 && length < name.size() && (static_cast<unsigned char>(name[length]) & 0xc0) == 0x80)
        --length;
    return name.substr(0, length);
}

struct MainExecutor {
    std::mutex mutex;
    std::condition_variable idle;
    std::function<void(Work)> executor;
    std::size_t callsUnderWay = 0; // executor calls running outside the mutex
};
MainExecutor& mainExecutor()
{
    // Never destroyed: kit threads may hand work over while the process exits.
    static auto* shared = new MainExecutor();
    return *shared;
}
// Executor calls the current thread is inside (an executor may hand work over itself).
thread_local std::size_t executorCallsOnThisThread = 0;

} // namespace

std::string threadNameOfLabel(std::string_view label)
{
    if (const std::size_t dot = label.rfind('.'); dot != std::string_view::npos && dot + 1 < label.size())
        label.remove_prefix(dot + 1);
    return std::string(cutToThreadName(label));
}

void nameCurrentThread(std::string_view name)
{
    ::pthread_setname_np(::pthread_self(), std::string(cutToThreadName(name)).c_str());
}

pid_t currentThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

bool queueLabelOfThread(pid_t thread, char* label, std::size_t capacity)
{
    if (!label || capacity == 0 || thread == 0)
        return false;
    for (auto& slot : queueThreads) {
        if (slot.thread.load(std::memory_order_acquire) != thread || !slot.ready.load(std::memory_order_acquire))
            continue;
        std::size_t length = 0;
        while (length + 1 < capacity && length < queueLabelCapacity - 1 && slot.label[length] != '\0') {
            label[length] = slot.label[length];
            ++length;
        }
        label[length] = '\0';
        return true;
    }
    return false;
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label))
{
    thread_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workArrived_.notify_one();
    thread_.join();
}

void SerialQueue::async(Work work)
{
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    workArrived_.notify_one();
}

void SerialQueue::sync(const Work& work)
{
    // The queue thread reaches the marker, says so, and waits until the caller has run the work.
    struct Handshake {
        std::mutex mutex;
        std::condition_variable changed;
        bool queueWaiting = false;
        bool workDone = false;
    };
    auto handshake = std::make_shared<Handshake>();
    async([handshake] {
        std::unique_lock lock(handshake->mutex);
        handshake->queueWaiting = true;
        handshake->changed.notify_all();
        handshake->changed.wait(lock, [&] { return handshake->workDone; });
    });
    {
        std::unique_lock lock(handshake->mutex);
        handshake->changed.wait(lock, [&] { return handshake->queueWaiting; });
    }
    struct Release {
        Handshake& handshake;
        ~Release()
        {
            std::lock_guard lock(handshake.mutex);
            handshake.workDone = true;
            handshake.changed.notify_all();
        }
    } release{*handshake};
    const SerialQueue* previous = currentSerialQueue;
    currentSerialQueue = this;
    struct Restore {
        const SerialQueue* previous;
        ~Restore() { currentSerialQueue = previous; }
    } restore{previous};
    work();
}

bool SerialQueue::isCurrent() const
{
    return currentSerialQueue == this;
}

namespace {

// Runs queued work in order until the owner stops and nothing is left; shared by the queue and pool threads.
void runPendingWork(std::mutex& mutex, std::condition_variable& workArrived, std::deque<Work>& pending,
                    const bool& stopping)
{
    for (;;) {
        Work work;
        {
            std::unique_lock lock(mutex);
            workArrived.wait(lock, [&] { return stopping || !pending.empty(); });
            if (pending.empty())
                return;
            work = std::move(pending.front());
            pending.pop_front();
        }
        work();
    }
}

} // namespace

void SerialQueue::run()
{
    QueueThreadRecord record(label_);
    currentSerialQueue = this;
    runPendingWork(mutex_, workArrived_, pending_, stopping_);
}

WorkerPool& WorkerPool::global()
{
    static WorkerPool* pool =
        new WorkerPool("com.horavine.global-queue", std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 8));
    return *pool;
}

WorkerPool::WorkerPool(std::string label, std::size_t threads) : label_(std::move(label))
{
    for (std::size_t index = 0; index < std::max<std::size_t>(threads, 1); ++index) {
        try {
            threads_.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
            if (threads_.empty())
                throw;
            break;
        }
    }
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workArrived_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

void WorkerPool::async(Work work)
{
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    workArrived_.notify_one();
}

void WorkerPool::run()
{
    QueueThreadRecord record(label_);
    runPendingWork(mutex_, workArrived_, pending_, stopping_);
}

void MainQueue::setExecutor(std::function<void(Work)> executor)
{
    auto& shared = mainExecutor();
    std::function<void(Work)> previous;
    std::unique_lock lock(shared.mutex);
    previous = std::exchange(shared.executor, std::move(executor));
    // Calls of the previous executor on other threads end before the caller goes on to tear down what
    // that executor reaches (the application's event loop at quit).
    shared.idle.wait(lock, [&] { return shared.callsUnderWay <= executorCallsOnThisThread; });
}

namespace {

// A call of the executor, counted from its copy to its end (however it ends), the copy released first.
class ExecutorCall {
public:
    explicit ExecutorCall(MainExecutor& shared) : shared_(shared)
    {
        std::lock_guard lock(shared_.mutex);
        executor_ = shared_.executor;
        if (executor_) {
            ++shared_.callsUnderWay;
            ++executorCallsOnThisThread;
        }
    }
    ~ExecutorCall()
    {
        if (!executor_)
            return;
        executor_ = nullptr;
        --executorCallsOnThisThread;
        {
            std::lock_guard lock(shared_.mutex);
            --shared_.callsUnderWay;
        }
        shared_.idle.notify_all();
    }
    ExecutorCall(const ExecutorCall&) = delete;
    ExecutorCall& operator=(const ExecutorCall&) = delete;
    explicit operator bool() const { return static_cast<bool>(executor_); }
    void operator()(Work work) const { executor_(std::move(work)); }

private:
    MainExecutor& shared_;
    std::function<void(Work)> executor_;
};

} // namespace

void MainQueue::async(Work work)
{
    const ExecutorCall call(mainExecutor());
    if (call)
        call(std::move(work));
    else
        WorkerPool::global().async(std::move(work));
}

} // namespace foundation
