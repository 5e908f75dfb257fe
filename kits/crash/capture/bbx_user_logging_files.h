// The crash context's part for the user logs and key-value records: the files of the three A/B sets
// and the two key-value stores (read-only once installed) and the state the logging queue changes
// (current files, counters). Kept apart so the context can hold them without the logging interface.
#pragma once

#include <cstdint>

// Two files written in turn: when the current one is over its limit, the other is emptied and
// becomes the current one, so a set keeps at most the full previous file and the current one.
struct BBXUserLoggingABFiles {
    const char* aPath;
    const char* bPath;
    std::uint32_t maxSize;    // bytes, when limited by size
    std::uint32_t maxEntries; // lines, otherwise
    std::uint8_t restrictBySize;
    std::uint32_t* entryCount; // lines in the current file (crash-time state), or none
};

// A key-value store: appended pairs, folded into the compacted file every maxIncrementalCount writes.
struct BBXUserLoggingKVStorage {
    const char* incrementalPath;
    const char* compactedPath;
    std::uint32_t maxIncrementalCount;
    std::uint32_t maxCount; // entries the compacted file keeps
};

// The context's file set (read-only once installed).
struct BBXUserLoggingFiles {
    BBXUserLoggingABFiles logStorage;
    BBXUserLoggingABFiles errorStorage;
    BBXUserLoggingABFiles customExceptionStorage;
    BBXUserLoggingKVStorage userKVStorage;
    BBXUserLoggingKVStorage internalKVStorage;
};

// The crash-time state's part: the file each set writes now and the counters.
struct BBXUserLoggingState {
    const char* logStoragePath;
    const char* errorStoragePath;
    const char* customExceptionStoragePath;
    std::uint32_t errorsCount;
    std::uint32_t customExceptionCount;
    std::uint32_t userKVCount;
    std::uint32_t internalKVCount;
};

inline constexpr std::uint32_t BBXUserLoggingMaxIncrementalEntries = 64;
inline constexpr std::uint32_t BBXUserLoggingMaxInternalEntries = 32;
