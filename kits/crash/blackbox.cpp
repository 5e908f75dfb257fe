// The crash kit's shared instance, its identity for the kit platform and the deliberate crash.

#include "kits/crash/blackbox.h"

#include "kits/analytics/tally.h"

namespace kits {

Blackbox& Blackbox::sharedInstance()
{
    static Blackbox instance;
    return instance;
}

KitClass Blackbox::kitClass()
{
    return KitClass{
        .name = "Blackbox",
        .bundleIdentifier = "com.mirrowick.blackbox.mac",
        .kitDisplayVersion = "3.8.4",
        .initializeIfNeeded = [] { sharedInstance().start(); },
        .companionKits = {Tally::kitClass()},
    };
}

void Blackbox::start()
{
    started_.store(true);
}

void Blackbox::crash()
{
    __builtin_trap();
}

} // namespace kits
