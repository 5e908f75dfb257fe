// Starts the crash kit (which brings the analytics kit) through the kit platform's one start call.
#include "app/kits.h"

#include "kits/crash/blackbox.h"
#include "kits/platform/keystone.h"

namespace app {

void startKits()
{
    kits::Keystone::with({kits::Blackbox::kitClass()});
}

void crashForDebugging()
{
    kits::Blackbox::sharedInstance().crash();
}

} // namespace app
