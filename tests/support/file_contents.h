// Whole-file reads and writes for tests that lay out or inspect files on disk, in binary mode so the
// bytes are exactly what the code under test wrote or will read.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

inline void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The file's bytes, or an empty string when it cannot be opened.
inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

} // namespace testsupport
