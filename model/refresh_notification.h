// The name of the application's refresh tick: the application posts it on the default notification
// centre every ten seconds, and whatever shows running durations brings them up to date on each.
#pragma once

namespace model {

inline constexpr const char* RefreshTimerFiredNotification = "RefreshTimerFiredNotification";

} // namespace model
