// The crash kit's shared instance, its identity for the kit platform and the deliberate crash.

#include "kits/crash/blackbox.h"

#include "kits/analytics/tally.h"
#include "kits/platform/kit_log.h"

namespace kits {

Blackbox& Blackbox::sharedInstance()
{
    static Blackbox instance;
    return instance;
}

KitClass Blackbox::kitClass()
{
    KitClass kit{
        .name = "Blackbox",
        .conformsToKSTKit = true,
        .bundleIdentifier = "com.mirrowick.blackbox.mac",
        .kitDisplayVersion = "3.8.4",
        .initializeIfNeeded = [] { sharedInstance().start(); },
        .sharedInstance = {},
    };
    // Registered here, where the host asks for it (a static library drops unreferenced initialisers),
    // with the analytics kit, which the kit platform adds after this one.
    KitRegistry::registerKitClass(kit);
    Tally::kitClass();
    return kit;
}

void Blackbox::start()
{
    if (started_.exchange(true))
        return;
    // The rest of the crash kit's start is still to come; its last step starts the analytics kit,
    // which has no beta token here.
    Tally::sharedInstance().startWithBetaToken(std::nullopt);
}

void Blackbox::setDelegate(BlackboxDelegate delegate)
{
    {
        std::lock_guard lock(hostMutex_);
        delegate_ = std::make_shared<const BlackboxDelegate>(std::move(delegate));
    }
    if (started_.load())
        kitLog("[Blackbox] Warning, setting delegate after start. Make sure to set the Blackbox delegate before "
               "calling startWithAPIKey:.., or +[Keystone with...] to avoid missing some delegate callbacks.");
}

std::shared_ptr<const BlackboxDelegate> Blackbox::delegate() const
{
    std::lock_guard lock(hostMutex_);
    return delegate_;
}

void Blackbox::setPromptPresenter(BlackboxPromptPresenter presenter)
{
    std::lock_guard lock(hostMutex_);
    promptPresenter_ = std::move(presenter);
}

BlackboxPromptPresenter Blackbox::promptPresenter() const
{
    std::lock_guard lock(hostMutex_);
    return promptPresenter_;
}

void Blackbox::crash()
{
    __builtin_trap();
}

} // namespace kits
