// Captures the kits' console lines for one test; any thread may log while the test reads.
#pragma once

#include "kits/platform/kit_log.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class LogCapture {
public:
    LogCapture()
    {
        kits::setKitLogSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { kits::setKitLogSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::size_t count(std::string_view line) const
    {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};
