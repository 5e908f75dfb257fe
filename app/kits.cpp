// Hands the kits the application's information dictionary, folders and main-thread executor, then starts the crash kit
// (which brings the analytics kit) through the kit platform's one start call.
#include "app/kits.h"

#include "app/global_functions.h"
#include "app/info_dictionary.h"
#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/keystone.h"

namespace app {

void startKits()
{
    using foundation::MainBundle;
    MainBundle::setInfoDictionary(infoDictionary());
    MainBundle::setCachesDirectory(foundation::xdgCacheHome() / "horavine");
    MainBundle::setApplicationSupportDirectory(foundation::xdgDataHome() / "horavine");
    // The kits' "main queue" is the application's event loop.
    foundation::MainQueue::setExecutor([](foundation::Work work) { delay(0, std::move(work)); });
    kits::Keystone::with({kits::Blackbox::kitClass()});
}

void crashForDebugging()
{
    kits::Blackbox::sharedInstance().crash();
}

} // namespace app
