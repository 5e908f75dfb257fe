// The Mach-O reader against the LLVM tools: real dylibs made by clang and ld64.lld, a fat file made
// by llvm-lipo, and what llvm-otool prints about them. Skipped when the tools are not installed.
#include "kits/crash/capture/bbx_macho.h"
#include "kits/crash/capture/bbx_macho_binary.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

namespace {

#if defined(HORAVINE_LLVM_CLANG) && defined(HORAVINE_LLVM_LD64) && defined(HORAVINE_LLVM_LIPO)                         \
    && defined(HORAVINE_LLVM_OTOOL)
constexpr bool toolsInstalled = true;
const char* const clang = HORAVINE_LLVM_CLANG;
const char* const ld64 = HORAVINE_LLVM_LD64;
const char* const lipo = HORAVINE_LLVM_LIPO;
const char* const otool = HORAVINE_LLVM_OTOOL;
#else
constexpr bool toolsInstalled = false;
const char* const clang = "";
const char* const ld64 = "";
const char* const lipo = "";
const char* const otool = "";
#endif

// Runs a command; its standard output, or nothing when it failed.
std::optional<std::string> run(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>/dev/null").c_str(), "r"), ::pclose);
    if (!pipe)
        return std::nullopt;
    std::string output;
    std::array<char, 4096> buffer{};
    for (std::size_t count; (count = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;)
        output.append(buffer.data(), count);
    if (::pclose(pipe.release()) != 0)
        return std::nullopt;
    return output;
}

struct OtoolSlice {
    std::string uuid;
    std::string minimum;
    std::string sdk;
    std::vector<std::string> dylibs;
};

// What `otool -l` says of a thin file: UUID (lower case, no hyphens), version minimum, loaded dylibs.
OtoolSlice otoolSlice(const std::string& listing)
{
    OtoolSlice slice;
    std::istringstream lines(listing);
    std::string line;
    std::string command;
    const std::regex field(R"(^\s*(cmd|uuid|version|sdk|name)\s+(\S+))");
    while (std::getline(lines, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, field))
            continue;
        const std::string key = match[1];
        std::string value = match[2];
        if (key == "cmd") {
            command = value;
        } else if (key == "uuid" && command == "LC_UUID") {
            std::erase(value, '-');
            for (auto& character : value)
                character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
            slice.uuid = value;
        } else if (key == "version" && command == "LC_VERSION_MIN_MACOSX") {
            slice.minimum = value;
        } else if (key == "sdk" && command == "LC_VERSION_MIN_MACOSX") {
            slice.sdk = value;
        } else if (key == "name" && command == "LC_LOAD_DYLIB") {
            slice.dylibs.push_back(value);
        }
    }
    return slice;
}

// otool prints "10.12" where the bugfix part is zero.
std::string otoolVersion(kits::BBXMachOVersion version)
{
    std::string text = std::to_string(version.major) + "." + std::to_string(version.minor);
    return version.bugfix ? text + "." + std::to_string(version.bugfix) : text;
}

} // namespace

TEST(MachOOracle, ReaderAgreesWithOtoolOnLinkedDylibs)
{
    if (!toolsInstalled)
        GTEST_SKIP() << "clang, ld64.lld, llvm-lipo and llvm-otool (version 14) are not installed";
    testsupport::TempFolder folder;
    const std::string at = folder.path().string() + "/";
    std::ofstream(at + "a.c") << "int answer(void) { return 42; }\n";
    const std::string version = " -platform_version macos 10.11.1 10.12 ";
    for (const std::string& command :
         {std::string(clang) + " -target x86_64-apple-macos10.11 -c " + at + "a.c -o " + at + "x86.o",
          std::string(clang) + " -target arm64-apple-macos11 -c " + at + "a.c -o " + at + "arm.o",
          std::string(ld64) + " -arch x86_64 -dylib" + version + "-install_name @rpath/libtest.dylib " + at
              + "x86.o -o " + at + "libtest.dylib",
          std::string(ld64) + " -arch x86_64 -dylib" + version + at + "x86.o " + at + "libtest.dylib -o " + at
              + "x86.dylib",
          std::string(ld64) + " -arch arm64 -dylib" + version + at + "arm.o -o " + at + "arm.dylib",
          std::string(lipo) + " -create " + at + "x86.dylib " + at + "arm.dylib -output " + at + "fat.dylib"}) {
        ASSERT_TRUE(run(command)) << command;
    }

    std::map<std::string, OtoolSlice> expected;
    expected["x86_64"] = otoolSlice(run(std::string(otool) + " -l " + at + "x86.dylib").value_or(""));
    expected["arm64"] = otoolSlice(run(std::string(otool) + " -l " + at + "arm.dylib").value_or(""));
    ASSERT_EQ(expected["x86_64"].uuid.size(), 32u);
    ASSERT_EQ(expected["arm64"].uuid.size(), 32u);
    EXPECT_EQ(expected["x86_64"].dylibs, std::vector<std::string>{"@rpath/libtest.dylib"});

    const auto fat = kits::BBXMachOBinary::MachOBinaryWithPath(at + "fat.dylib");
    ASSERT_TRUE(fat.hasValue()) << fat.status().message();
    const auto& binary = fat.value();
    ASSERT_EQ(binary->slices().size(), 2u);
    for (const auto& slice : binary->slices()) {
        const auto& oracle = expected[slice.architectureName()];
        EXPECT_EQ(slice.uuid(), oracle.uuid) << slice.architectureName();
        EXPECT_EQ(otoolVersion(slice.minimumOSVersion()), oracle.minimum) << slice.architectureName();
        EXPECT_EQ(otoolVersion(slice.linkedSDKVersion()), oracle.sdk) << slice.architectureName();
        EXPECT_EQ(slice.linkedDylibs(), oracle.dylibs) << slice.architectureName();
    }

    // Slice offsets as the fat table lists them.
    const std::string fatHeaders = run(std::string(otool) + " -f " + at + "fat.dylib").value_or("");
    std::vector<long> offsets;
    const std::regex offset(R"(\n\s*offset (\d+))");
    for (std::sregex_iterator match(fatHeaders.begin(), fatHeaders.end(), offset), end; match != end; ++match)
        offsets.push_back(std::stol((*match)[1]));
    kits::BBXMachOFile file;
    ASSERT_TRUE(kits::BBXMachOFileInitWithPath(&file, (at + "fat.dylib").c_str()));
    std::vector<long> read;
    kits::BBXMachOFileEnumerateSlices(&file, [&](const kits::BBXMachOSliceRecord& slice) {
        read.push_back(static_cast<long>(slice.startAddress - file.mappedAddress));
    });
    kits::BBXMachOFileDestroy(&file);
    EXPECT_EQ(read, offsets);
    EXPECT_EQ(offsets.size(), 2u);
}
