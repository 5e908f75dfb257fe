// The program's one sink for diagnostic lines: each goes to stderr as one line after the prefix
// "horavine: ", whatever thread writes it. Tests capture the lines instead with a DiagnosticCapture.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace foundation {

inline constexpr std::string_view diagnosticPrefix = "horavine: ";

// Writes "horavine: <text>\n" in one piece, or hands the text to the innermost capture.
void diagnostic(std::string_view text);

// A number with a fixed count of decimal places and a point as the separator, in every locale:
// diagnostics are read by programs and people alike ("10.47", never "10,47").
std::string fixedPointText(double value, int places);

// While one exists, diagnostic lines are kept here (without prefix) instead of being written.
// Captures nest: the innermost one receives the lines.
class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    std::vector<std::string> lines() const;

private:
    friend void diagnostic(std::string_view text);
    DiagnosticCapture* outer_ = nullptr;
    std::vector<std::string> lines_;
};

} // namespace foundation
