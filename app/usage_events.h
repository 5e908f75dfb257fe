// The usage events the application shell records, handed to a recorder the shell is given;
// recordWithTally passes them on to the analytics kit.
#pragma once

#include <functional>

namespace app {

enum class UsageEvent { openSupportMail, openWebsite, rateApp, viewAboutWindow, openPreferencesWindow };

using UsageRecorder = std::function<void(UsageEvent)>;

void recordWithTally(UsageEvent event);

} // namespace app
