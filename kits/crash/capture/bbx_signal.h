// Fatal signals: the kit's handler writes "signal.bbxrecord" (the signal line, then the snapshot) and
// hands the signal back to the handlers that were there before, or to the default action, so the
// process still dies of the same cause. Everything the handler reaches is async-signal-safe.
#pragma once

#include "kits/crash/capture/bbx_context.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>

// In the order of installation, re-installation and resetting.
inline constexpr int BBXSignalFatalSignals[BBXSignalFatalSignalCount] = {SIGABRT, SIGBUS, SIGFPE, SIGILL,
                                                                         SIGSEGV, SIGSYS, SIGTRAP};

// The record's name of a signal number ("UNKNOWN" for any other) and its code name (none but SIGABRT's).
const char* BBXSignalName(int signal);
const char* BBXSignalCodeName(int signal);

// Resets the signal file, installs the alternate stack (on the calling thread) and the handler for
// every table signal, keeping what was there before in `record`.
void BBXSignalInitialize(BBXContextSignalRecord* record);
void BBXSignalHandler(int signal, siginfo_t* info, void* userContext);
// The default action for every table signal.
void BBXSignalSafeRemoveHandlers();
// Defaults again, then the saved alternate stack and every saved action; false when any failed.
bool BBXSignalSafeInstallPreexistingHandlers(const BBXContextSignalRecord* record);
void BBXSignalEnumerateFatalSignals(const std::function<void(std::size_t index, int signal)>& block);
// Prints a line to standard error for each table signal whose handler is not the kit's.
void BBXSignalCheckHandlers();
