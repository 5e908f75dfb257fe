// The crash child as an application launch: `crash_child kit <mode> [decline|detect] [seconds]` starts
// the kits through Keystone::with({Blackbox}) with its own information dictionary, the folders of
// $XDG_CACHE_HOME and $XDG_DATA_HOME and a main queue of its own, prints "execution <identifier>" and
// "with_returned <real-time ns>", then either runs its main queue for `seconds` (mode "clean") and ends
// normally, or crashes as `mode` asks after the main queue's first turn ("early-<mode>": before it).
// "decline" gives the kit a delegate that declines every report; "detect" one that prints the crash
// date of each report it is shown ("crashed_on <seconds>"); "activate" posts that the application
// becomes active and then stops being active, after the first turn. The kits pin the DER root named by
// $HORAVINE_PINNED_ROOT when it is set.
#include "kit_launch.h"

#include "bus_error.h"
#include "support/hooks/pinned_certificates_hook.h"
#include "support/manual_main_queue.h"
#include "support/real_time.h"

#include "kits/crash/bbx_report.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/keystone.h"

#include "foundation/application_notifications.h"
#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "foundation/notification_center.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

enum class CrashKind { segv, abort, bus, fpe, trap, int3, overflow, exception };

volatile CrashKind crashKind = CrashKind::segv;
// Called through a pointer, abort is not known to end the caller, whose frame then keeps code after
// the call: the return address stays inside crash_here() instead of past its end.
void (*volatile abortThroughPointer)() = std::abort;
std::string busFilePath;

testsupport::ManualMainQueue mainQueue;

} // namespace

static __attribute__((noinline, noclone)) void throw_here()
{
    throw std::runtime_error("uncaught in the crash child");
}

// The frame every kind of crash passes through (and, overflowing, repeats), so the report names it;
// kept whole (no separate cold part, which would be named "crash_here() [clone .cold]").
static __attribute__((noinline, noclone, optimize("no-reorder-blocks-and-partition"))) int crash_here()
{
    volatile char pad[128];
    pad[0] = 1;
    switch (crashKind) {
    case CrashKind::segv: *static_cast<volatile int*>(nullptr) = 1; break;
    case CrashKind::abort: abortThroughPointer(); break;
    case CrashKind::bus: busError(busFilePath); break;
    case CrashKind::fpe: {
        volatile int numerator = 7;
        volatile int zero = 0;
        std::printf("%d\n", numerator / zero);
        break;
    }
    case CrashKind::trap: kits::Blackbox::sharedInstance().crash();
    case CrashKind::int3: asm volatile("int3"); break;
    case CrashKind::overflow: pad[1] = static_cast<char>(crash_here()); break;
    case CrashKind::exception: throw_here(); break;
    }
    asm volatile("" ::: "memory");
    return pad[0] + pad[1];
}

int runKitLaunch(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    std::string mode = argv[2];
    const std::string option = argc > 3 ? argv[3] : "";
    const double seconds = argc > 4 ? std::atof(argv[4]) : 3.0;
    const bool early = mode.starts_with("early-");
    if (early)
        mode = mode.substr(6);
    static const std::pair<const char*, CrashKind> kinds[] = {
        {"segv", CrashKind::segv},         {"abort", CrashKind::abort},        {"bus", CrashKind::bus},
        {"fpe", CrashKind::fpe},           {"trap", CrashKind::trap},          {"int3", CrashKind::int3},
        {"overflow", CrashKind::overflow}, {"exception", CrashKind::exception}};
    bool crashes = false;
    for (const auto& [name, kind] : kinds) {
        if (mode == name) {
            crashKind = kind;
            crashes = true;
        }
    }
    if (!crashes && mode != "clean")
        return 5;

    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* data = std::getenv("XDG_DATA_HOME");
    if (!cache || !data)
        return 2;
    using foundation::MainBundle;
    using foundation::PropertyListDictionary;
    MainBundle::setInfoDictionary(
        PropertyListDictionary{{"CFBundleIdentifier", "org.example.crashchild"},
                               {"CFBundleName", "crash_child"},
                               {"CFBundleShortVersionString", "1.0"},
                               {"CFBundleVersion", "7"},
                               {"Keystone", PropertyListDictionary{{"APIKey", "crash-child-key"},
                                                                   {"Kits", foundation::PropertyListArray{}}}}});
    if (const char* pinned = std::getenv("HORAVINE_PINNED_ROOT")) {
        std::ifstream file(pinned, std::ios::binary);
        const std::string der{std::istreambuf_iterator<char>(file), {}};
        kits::testhooks::setPinnedCertificates(
            kits::KSTCertificateArray{kits::KSTCreateCertificate(der.data(), der.size())});
    }
    MainBundle::setCachesDirectory(std::filesystem::path(cache) / "crashchild");
    MainBundle::setApplicationSupportDirectory(std::filesystem::path(data) / "crashchild");
    busFilePath = (std::filesystem::path(cache) / "truncated").string();
    mainQueue.install();

    kits::BlackboxDelegate delegate;
    if (option == "decline") {
        delegate.blackboxDidDetectReportForLastExecutionCompletionHandler =
            [](kits::BBXReport&, std::function<void(bool)> completion) { completion(false); };
    } else if (option == "detect") {
        delegate.blackboxDidDetectReportForLastExecution = [](kits::BBXReport& report) {
            const auto date = report.crashedOnDate();
            std::printf("crashed_on %lld\n", date ? static_cast<long long>(date->time_since_epoch().count()) : -1LL);
            std::fflush(stdout);
        };
    }
    kits::Blackbox::sharedInstance().setDelegate(std::move(delegate));

    kits::Keystone::with({kits::Blackbox::kitClass()});
    std::printf("with_returned %ld\nexecution %s\n", testsupport::realTimeNanoseconds(),
                kits::Keystone::sharedSDK().executionIdentifier().c_str());
    std::fflush(stdout);

    if (crashes && early)
        return crash_here();
    mainQueue.turn();
    if (crashes)
        return crash_here();
    if (option == "activate") {
        auto& center = foundation::NotificationCenter::defaultCenter();
        center.post(foundation::ApplicationWillBecomeActiveNotification);
        center.post(foundation::ApplicationDidResignActiveNotification);
    }
    mainQueue.turn(
        std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds)));
    std::fflush(nullptr);
    std::_Exit(0);
}
