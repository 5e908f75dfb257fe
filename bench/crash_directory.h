// A crashed launch's directory as the crash kit leaves it, for the report benchmarks: metadata, the
// image log (this process's images and 100 gone ones) and a signal record of 10 threads of 40 frames
// whose addresses fall in this process's functions, with 64 KiB of kit log.
#pragma once

#include "kits/crash/bbx_internal_report.h"
#include "system/elf_identity.h"
#include "system/elf_symbols.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace benchcrash {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The files of a crash directory whose addresses fall in this process's functions.
struct CrashFiles {
    std::string images;
    std::string signal;
};

inline const CrashFiles& crashFiles()
{
    static const CrashFiles files = [] {
        CrashFiles made;
        std::vector<std::uint64_t> addresses;
        std::size_t count = 0;
        for (const auto& image : os::loadedImages()) {
            if (image.uuid.empty() || image.path.empty())
                continue;
            nlohmann::json load = {{"path", image.path.string()},
                                   {"uuid", image.uuid},
                                   {"base", image.base},
                                   {"size", image.size}};
            made.images += nlohmann::json{{"load", load}}.dump() + "\n";
            ++count;
            const auto table = os::ElfSymbolTable::read(image.path);
            if (!table)
                continue;
            for (const auto& symbol : table.table->symbols()) {
                if (symbol.size > 8 && addresses.size() < 400 && symbol.start % 3 == 0)
                    addresses.push_back(symbol.start + image.slide + 4);
            }
        }
        // Images of the crashed launch that are not loaded now.
        for (std::uint64_t index = 0; count < 100; ++index, ++count) {
            char uuid[33];
            std::snprintf(uuid, sizeof uuid, "%032llx", static_cast<unsigned long long>(0xabc000 + index));
            nlohmann::json load = {{"path", "/usr/lib/gone" + std::to_string(index) + ".so"},
                                   {"uuid", uuid},
                                   {"base", 0x100000000ull + index * 0x100000},
                                   {"size", 0x80000}};
            made.images += nlohmann::json{{"load", load}}.dump() + "\n";
        }
        while (addresses.size() < 400)
            addresses.push_back(0x100000000ull + addresses.size() * 0x1000);
        nlohmann::json threads = nlohmann::json::array();
        for (std::size_t thread = 0; thread < 10; ++thread) {
            nlohmann::json stack = nlohmann::json::array();
            for (std::size_t frame = 0; frame < 40; ++frame)
                stack.push_back(addresses[(thread * 40 + frame) % addresses.size()]);
            threads.push_back({{"crashed", thread == 0}, {"stacktrace", stack}});
        }
        made.signal = R"({"signal":{"number":11}})"
                      "\n"
                      + nlohmann::json{{"threads", threads}}.dump() + "\n";
        return made;
    }();
    return files;
}

inline std::shared_ptr<kits::BBXInternalReport> writeReport(const fs::path& directory, const std::string& identifier)
{
    fs::create_directories(directory);
    writeFile(directory / "metadata.bbxrecord", R"({"identity":{"api_key":"k3y","session_id":")" + identifier
                                                    + R"("}})"
                                                      "\n");
    writeFile(directory / "binary_images.bbxrecord", crashFiles().images);
    writeFile(directory / "signal.bbxrecord", crashFiles().signal);
    std::mt19937 random(7);
    std::string log;
    while (log.size() < 64 * 1024)
        log += "INFO  [bench:1] line " + std::to_string(random()) + "\n";
    writeFile(directory / "sdk.log", log.substr(0, 64 * 1024));
    return kits::BBXInternalReport::reportWithPath(directory.string());
}

} // namespace benchcrash
