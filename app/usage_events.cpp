// The shell's usage events as the analytics kit's vocabulary.
#include "app/usage_events.h"

#include "kits/analytics/tally_events.h"

namespace app {

void recordWithTally(UsageEvent event)
{
    switch (event) {
    case UsageEvent::openSupportMail: kits::TallyEvents::trackOpenSupportMail(); break;
    case UsageEvent::openWebsite: kits::TallyEvents::trackOpenWebsite(); break;
    case UsageEvent::rateApp: kits::TallyEvents::trackRateApp(); break;
    case UsageEvent::viewAboutWindow: kits::TallyEvents::trackViewAboutWindow(); break;
    case UsageEvent::openPreferencesWindow: kits::TallyEvents::trackOpenPreferencesWindow(); break;
    }
}

} // namespace app
