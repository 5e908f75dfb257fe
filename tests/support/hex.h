// Lower-case hexadecimal of a text's bytes, two digits a byte: how records written for the host hold
// its names, reasons and values, so tests can state the expected field from the plain text.
#pragma once

#include <string>
#include <string_view>

namespace testsupport {

inline std::string hex(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace testsupport
