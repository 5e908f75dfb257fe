// The diagnostic sink: one mutex orders lines from every thread and guards the capture chain.
#include "foundation/diagnostics.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <mutex>

namespace foundation {

namespace {

std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

DiagnosticCapture* innermostCapture = nullptr;

} // namespace

void diagnostic(std::string_view text)
{
    std::lock_guard lock(sinkMutex());
    if (innermostCapture) {
        innermostCapture->lines_.emplace_back(text);
        return;
    }
    std::string line;
    line.reserve(diagnosticPrefix.size() + text.size() + 1);
    line.append(diagnosticPrefix).append(text).push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::string fixedPointText(double value, int places)
{
    std::array<char, 64> buffer{};
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, places);
    if (error != std::errc())
        return "?";
    return std::string(buffer.data(), end);
}

DiagnosticCapture::DiagnosticCapture()
{
    std::lock_guard lock(sinkMutex());
    outer_ = innermostCapture;
    innermostCapture = this;
}

DiagnosticCapture::~DiagnosticCapture()
{
    std::lock_guard lock(sinkMutex());
    // Captures end in the reverse order of their start; one that ends early is unlinked anyway.
    for (DiagnosticCapture** link = &innermostCapture; *link; link = &(*link)->outer_) {
        if (*link == this) {
            *link = outer_;
            break;
        }
    }
}

std::vector<std::string> DiagnosticCapture::lines() const
{
    std::lock_guard lock(sinkMutex());
    return lines_;
}

} // namespace foundation
