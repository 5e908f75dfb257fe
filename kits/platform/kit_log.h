// The kits' console output: one whole line at a time, so lines logged from several threads never run
// into each other. Failures are always printed; informational lines only while the kits' debug flag
// is set. Callers include their own bracketed prefix. Tests capture the lines through a sink.
#pragma once

#include <functional>
#include <string_view>

namespace kits {

// A failure or warning: always printed.
void kitLog(std::string_view line);
// An informational line: printed only in debug mode.
void kitDebugLog(std::string_view line);

// The kits' debug flag (Keystone's debug setter sets it); any thread.
void setKitDebugLogging(bool enabled);
bool isKitDebugLogging();

// Receives every printed line (without its newline) in place of stderr; an empty sink restores
// stderr. Called under the log's lock, so lines arrive one at a time; a sink must not log.
using KitLogSink = std::function<void(std::string_view line)>;
void setKitLogSink(KitLogSink sink);

} // namespace kits
