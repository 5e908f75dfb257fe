// The names of the application's life-cycle notifications on the default notification centre: the
// application posts them as it becomes active, stops being active and quits, and the kits observe them.
#pragma once

namespace foundation {

inline constexpr const char* ApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* ApplicationWillResignActiveNotification = "NSApplicationWillResignActiveNotification";
inline constexpr const char* ApplicationWillBecomeActiveNotification = "NSApplicationWillBecomeActiveNotification";
inline constexpr const char* ApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";
inline constexpr const char* ApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";

} // namespace foundation
