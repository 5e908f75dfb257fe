// The snapshot of every thread: its six lines in order, one hash per thread of procfs with registers
// and a stack that reaches the thread's own functions, a thread that will not answer, the current
// thread faked through call_once's frames in libc, and a deep recursion cut to ten repeats.
#include "capture_context.h"
#include "unwind_support.h"

#include "kits/crash/capture/bbx_process.h"
#include "kits/crash/capture/bbx_procfs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <cxxabi.h>
#include <mutex>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

// Named without mangling so their frames are easy to recognize.
extern "C" {
void bbxTestParkedWorker(std::atomic<bool>* stop);
int bbxTestRecurse(int depth, std::atomic<bool>* stop);
void bbxTestSnapshotThroughCallOnce(std::vector<nlohmann::ordered_json>* lines);
}

extern "C" {
std::atomic<std::size_t> parkedCount{0};

__attribute__((noinline, noclone)) void bbxTestParkedWorker(std::atomic<bool>* stop)
{
    parkedCount.fetch_add(1);
    while (!stop->load()) {
        timespec pause{0, 5'000'000};
        ::nanosleep(&pause, nullptr);
    }
    asm volatile("" ::: "memory");
}

__attribute__((noinline, noclone)) int bbxTestRecurse(int depth, std::atomic<bool>* stop)
{
    if (depth == 0) {
        bbxTestParkedWorker(stop);
        return 0;
    }
    int result = bbxTestRecurse(depth - 1, stop);
    asm volatile("" : "+r"(result)::"memory");
    return result + 1;
}
}

namespace {

pid_t threadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// Threads parked in nanosleep under their names until the object ends.
class ParkedThreads {
public:
    using Body = std::function<void(std::atomic<bool>*)>;

    void start(const std::string& name, Body body = bbxTestParkedWorker, std::size_t stackSize = 0)
    {
        auto* argument = new Start{name, std::move(body), &stop_};
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        if (stackSize)
            pthread_attr_setstacksize(&attributes, stackSize);
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, &attributes, run, argument), 0);
        pthread_attr_destroy(&attributes);
        threads_.push_back(thread);
    }
    void waitUntilParked(std::size_t count)
    {
        ASSERT_TRUE(testsupport::eventually([&] { return parkedCount.load() - parkedBefore_ >= count; }, 20.0));
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into nanosleep
    }
    ~ParkedThreads()
    {
        stop_ = true;
        for (auto thread : threads_)
            pthread_join(thread, nullptr);
    }

private:
    struct Start {
        std::string name;
        Body body;
        std::atomic<bool>* stop;
    };
    static void* run(void* raw)
    {
        std::unique_ptr<Start> start(static_cast<Start*>(raw));
        pthread_setname_np(pthread_self(), start->name.c_str());
        start->body(start->stop);
        return nullptr;
    }

    std::atomic<bool> stop_{false};
    const std::size_t parkedBefore_ = parkedCount.load();
    std::vector<pthread_t> threads_;
};

std::vector<nlohmann::ordered_json> snapshot()
{
    static std::atomic<int> serial{0};
    const auto path = testsupport::captureFolder() / ("snapshot-" + std::to_string(serial++) + ".bbxrecord");
    BBXFile file;
    if (!BBXFileInitWithPath(&file, path.c_str(), false))
        return {};
    BBXHandler(&file, threadId(), nullptr);
    BBXFileClose(&file);
    return testsupport::orderedSections(path);
}

std::vector<std::string> sectionNames(const std::vector<nlohmann::ordered_json>& lines)
{
    std::vector<std::string> names;
    for (const auto& line : lines)
        names.push_back(line.begin().key());
    return names;
}

// Index of the thread named `name` in the snapshot, or -1.
int threadNamed(const std::vector<nlohmann::ordered_json>& lines, const std::string& name)
{
    const auto& names = lines.at(3)["thread_names"];
    for (std::size_t index = 0; index < names.size(); ++index) {
        if (names[index] == name)
            return static_cast<int>(index);
    }
    return -1;
}

std::vector<std::string> functionsOf(const nlohmann::ordered_json& thread)
{
    std::vector<std::string> names;
    const auto& trace = thread["stacktrace"];
    for (std::size_t index = 0; index < trace.size(); ++index) {
        const auto address = trace[index].get<std::uint64_t>();
        const std::string name = testsupport::functionName(index == 0 ? address + 1 : address);
        int status = 0;
        char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
        names.push_back(status == 0 && demangled ? demangled : name);
        std::free(demangled);
    }
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// ThreadSanitizer runs a thread of its own that blocks every signal (so it is written empty) and puts
// its interceptor in place of libc's pthread_once; the tests that depend on either skip there.
#ifdef __SANITIZE_THREAD__
#define SKIP_UNDER_THREAD_SANITIZER() GTEST_SKIP() << "ThreadSanitizer's own thread and interceptors"
#else
#define SKIP_UNDER_THREAD_SANITIZER() static_cast<void>(0)
#endif

const std::vector<std::string> sixSections = {"threads",      "runtime",       "dispatch_queue_names",
                                              "thread_names", "process_stats", "storage"};

} // namespace

TEST(BBXHandler, SnapshotsEveryThreadInSixLines)
{
    SKIP_UNDER_THREAD_SANITIZER();
    ASSERT_NE(testsupport::captureContext(), nullptr);
    ParkedThreads workers;
    for (int index = 1; index <= 4; ++index)
        workers.start("worker-" + std::to_string(index));
    workers.waitUntilParked(4);

    pid_t before[512];
    const long countBefore = BBXListThreads(before, 512);
    const auto lines = snapshot();
    pid_t after[512];
    const long countAfter = BBXListThreads(after, 512);
    ASSERT_EQ(sectionNames(lines), sixSections);
    ASSERT_EQ(countBefore, countAfter) << "a thread came or went during the test";

    const auto& threads = lines[0]["threads"];
    ASSERT_EQ(threads.size(), static_cast<std::size_t>(countBefore));
    ASSERT_EQ(lines[2]["dispatch_queue_names"].size(), threads.size());
    ASSERT_EQ(lines[3]["thread_names"].size(), threads.size());
    int crashed = 0;
    for (const auto& thread : threads) {
        const std::vector<std::string> keys = [&] {
            std::vector<std::string> names;
            for (const auto& [key, value] : thread["registers"].items())
                names.push_back(key);
            return names;
        }();
        EXPECT_EQ(keys,
                  std::vector<std::string>(BBXThreadRegisterNames, BBXThreadRegisterNames + BBXThreadRegisterCount));
        EXPECT_FALSE(thread["stacktrace"].empty());
        crashed += thread.contains("crashed") ? 1 : 0;
    }
    EXPECT_EQ(crashed, 1);
    EXPECT_EQ(threads[0]["crashed"], true) << "the test's main thread took the snapshot";
    const auto current = functionsOf(threads[0]);
    EXPECT_EQ(current.at(0).substr(0, 26), "BBXProcessRecordAllThreads") << testing::PrintToString(current);
    EXPECT_EQ(current.at(1).substr(0, 10), "BBXHandler");

    for (int index = 1; index <= 4; ++index) {
        const int at = threadNamed(lines, "worker-" + std::to_string(index));
        ASSERT_GE(at, 0) << index;
        EXPECT_TRUE(contains(functionsOf(threads[at]), "bbxTestParkedWorker")) << index;
        EXPECT_EQ(threads[at]["registers"]["rip"], threads[at]["stacktrace"][0]);
    }
    // The binary-images queue's thread carries its label.
    const auto& queues = lines[2]["dispatch_queue_names"];
    EXPECT_NE(std::find(queues.begin(), queues.end(), "com.mirrowick.blackbox.mac.binary-images"), queues.end());

    EXPECT_EQ(lines[1]["runtime"], nlohmann::ordered_json::parse(R"({"objc_selector":"","crash_info_entries":[]})"));
    const auto& stats = lines[4]["process_stats"];
    for (const char* key :
         {"active", "inactive", "wired", "freeMem", "free_mem", "virtual", "resident", "user_time", "sys_time"})
        EXPECT_TRUE(stats[key].is_number_unsigned()) << key;
    EXPECT_EQ(stats["freeMem"], stats["free_mem"]);
    EXPECT_GT(stats["resident"].get<std::uint64_t>(), 0u);
    EXPECT_GE(stats["virtual"].get<std::uint64_t>(), stats["resident"].get<std::uint64_t>());
}

TEST(BBXHandler, ThreadBlockingTheSignalIsWrittenEmpty)
{
    ASSERT_NE(testsupport::captureContext(), nullptr);
    ParkedThreads workers;
    workers.start("worker-1");
    workers.start("blocker", [](std::atomic<bool>* stop) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, BBXThreadStateSignal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        bbxTestParkedWorker(stop);
    });
    workers.waitUntilParked(2);
    const auto lines = snapshot();
    ASSERT_EQ(sectionNames(lines), sixSections);
    const auto& threads = lines[0]["threads"];
    const int blocker = threadNamed(lines, "blocker");
    ASSERT_GE(blocker, 0);
    EXPECT_EQ(threads[blocker]["registers"], nlohmann::ordered_json::object());
    EXPECT_EQ(threads[blocker]["stacktrace"], nlohmann::ordered_json::array());
    const int worker = threadNamed(lines, "worker-1");
    ASSERT_GE(worker, 0);
    EXPECT_TRUE(contains(functionsOf(threads[worker]), "bbxTestParkedWorker"));
    EXPECT_NE(testsupport::sdkLogText().find("did not answer"), std::string::npos);
}

extern "C" __attribute__((noinline, noclone)) void
bbxTestSnapshotThroughCallOnce(std::vector<nlohmann::ordered_json>* lines)
{
    std::once_flag once;
    std::call_once(once, [lines] { *lines = snapshot(); });
    asm volatile("" ::: "memory");
}

TEST(BBXHandler, FakedCurrentThreadWalksThroughCallOnce)
{
    SKIP_UNDER_THREAD_SANITIZER();
    ASSERT_NE(testsupport::captureContext(), nullptr);
    std::vector<nlohmann::ordered_json> lines;
    bbxTestSnapshotThroughCallOnce(&lines);
    ASSERT_EQ(sectionNames(lines), sixSections);
    const auto& current = lines[0]["threads"][0];
    ASSERT_EQ(current["crashed"], true);
    const auto functions = functionsOf(current);
    const auto caller = std::find(functions.begin(), functions.end(), "bbxTestSnapshotThroughCallOnce");
    ASSERT_NE(caller, functions.end()) << testing::PrintToString(functions);
    // Between the snapshot and the caller lies libc's pthread_once (libstdc++'s proxy calls the
    // callable as a tail call, so it leaves no frame of its own).
    const auto& trace = current["stacktrace"];
    bool passedLibc = false;
    for (std::size_t index = 0; index < static_cast<std::size_t>(caller - functions.begin()); ++index) {
        const auto image = os::loadedImageContaining(trace[index].get<std::uint64_t>());
        passedLibc |= image && image->path.string().find("/libc.so") != std::string::npos;
    }
    EXPECT_TRUE(passedLibc) << testing::PrintToString(functions);
    EXPECT_NE(testsupport::sdkLogText().find("Faking current thread"), std::string::npos);
}

TEST(BBXHandler, DeepRecursionIsCutToTenRepeats)
{
    ASSERT_NE(testsupport::captureContext(), nullptr);
    ParkedThreads workers;
    workers.start(
        "recurser", [](std::atomic<bool>* stop) { bbxTestRecurse(50000, stop); }, 64 << 20);
    workers.waitUntilParked(1);
    const auto lines = snapshot();
    ASSERT_EQ(sectionNames(lines), sixSections);
    const int at = threadNamed(lines, "recurser");
    ASSERT_GE(at, 0);
    const auto& thread = lines[0]["threads"][at];
    ASSERT_TRUE(thread.contains("repeated_pc"));
    const auto repeated = thread["repeated_pc"].get<std::uint64_t>();
    EXPECT_EQ(testsupport::functionName(repeated), "bbxTestRecurse");
    EXPECT_GT(thread["repeat_count"].get<std::uint64_t>(), 40000u);
    const auto& trace = thread["stacktrace"];
    EXPECT_EQ(std::count(trace.begin(), trace.end(), repeated), 10);
    const auto functions = functionsOf(thread);
    const auto last = std::find(functions.rbegin(), functions.rend(), "bbxTestRecurse");
    ASSERT_NE(last, functions.rend());
    EXPECT_NE(last, functions.rbegin()) << "the recursion's callers follow it";
    EXPECT_LT(trace.size(), 40u);
    // Only this thread was cut.
    for (std::size_t index = 0; index < lines[0]["threads"].size(); ++index)
        EXPECT_EQ(lines[0]["threads"][index].contains("repeated_pc"), static_cast<int>(index) == at);
}

TEST(BBXHandler, CrashCallbackRunsAfterTheSnapshot)
{
    BBXContext* context = testsupport::captureContext();
    ASSERT_NE(context, nullptr);
    static std::atomic<int> calls{0};
    static int target = 0;
    context->crashCallback = {[](void* given) { calls += given == &target ? 1 : 100; }, &target};
    const auto lines = snapshot();
    context->crashCallback = {};
    EXPECT_EQ(sectionNames(lines), sixSections);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_NE(testsupport::sdkLogText().find("Performing syncrhonous crash callback - hold onto your butts"),
              std::string::npos);
}

TEST(BBXHandler, RegistersComeFromTheMachineContext)
{
    ucontext_t context{};
    auto& g = context.uc_mcontext.gregs;
    for (int index = 0; index < NGREG; ++index)
        g[index] = 0x100 + index;
    g[REG_CSGSFS] = static_cast<greg_t>(0x0000'002b'0000'0033ULL | (0x10ULL << 16)); // fs 0x2b, gs 0x10, cs 0x33
    BBXThreadState state;
    BBXThreadStateFromMachineContext(context.uc_mcontext, &state);
    EXPECT_EQ(state.registers[BBXThreadRegisterRAX], static_cast<std::uint64_t>(0x100 + REG_RAX));
    EXPECT_EQ(state.registers[BBXThreadRegisterRDI], static_cast<std::uint64_t>(0x100 + REG_RDI));
    EXPECT_EQ(state.registers[BBXThreadRegisterRIP], static_cast<std::uint64_t>(0x100 + REG_RIP));
    EXPECT_EQ(state.registers[BBXThreadRegisterRFLAGS], static_cast<std::uint64_t>(0x100 + REG_EFL));
    EXPECT_EQ(state.registers[BBXThreadRegisterCS], 0x33u);
    EXPECT_EQ(state.registers[BBXThreadRegisterGS], 0x10u);
    EXPECT_EQ(state.registers[BBXThreadRegisterFS], 0x2bu);
    const auto dwarf = BBXThreadStateDwarfRegisters(state);
    EXPECT_EQ(dwarf.value[3], state.registers[BBXThreadRegisterRBX]); // DWARF 3 is rbx
    EXPECT_EQ(dwarf.value[kits::BBXDwarfRegisterRSP], state.registers[BBXThreadRegisterRSP]);

    // And back: the unwinder's registers (an exception's throw site) as a machine context.
    BBXThreadState unwound = BBXThreadStateFromDwarfRegisters(dwarf);
    unwound.registers[BBXThreadRegisterCS] = 0x33;
    unwound.registers[BBXThreadRegisterGS] = 0x10;
    unwound.registers[BBXThreadRegisterFS] = 0x2b;
    unwound.registers[BBXThreadRegisterRFLAGS] = state.registers[BBXThreadRegisterRFLAGS];
    ucontext_t rebuilt{};
    BBXMachineContextFromThreadState(unwound, &rebuilt.uc_mcontext);
    for (int index : {REG_RAX, REG_RBX, REG_RCX, REG_RDX, REG_RDI, REG_RSI, REG_RBP, REG_RSP, REG_R8, REG_R15, REG_RIP,
                      REG_EFL, REG_CSGSFS})
        EXPECT_EQ(rebuilt.uc_mcontext.gregs[index], g[index]) << index;
}
