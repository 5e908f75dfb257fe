// Writes small Mach-O files for the reader's tests: thin 32- and 64-bit images with the commands the
// kits read (UUID, version minimum, load dylib, a __TEXT segment), and fat files holding thin ones at
// page-aligned offsets in the order given.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

using MachOUUID = std::array<std::uint8_t, 16>;

struct ThinMachO {
    std::int32_t cpuType = 0x01000007;
    std::int32_t cpuSubtype = 3;
    std::optional<MachOUUID> uuid;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> versionMinimum; // (version, sdk) words
    std::vector<std::string> dylibs;
};

class MachOMaker {
public:
    static std::string thin(const ThinMachO& options)
    {
        const bool wide = (options.cpuType & 0x01000000) != 0;
        std::string commands;
        std::uint32_t count = 0;
        // A __TEXT segment with no sections, as every image has one.
        {
            std::string segment;
            word(segment, wide ? 0x19 : 0x1);
            word(segment, wide ? 72 : 56);
            std::string name = "__TEXT";
            name.resize(16, '\0');
            segment += name;
            segment.resize(wide ? 72 : 56, '\0');
            commands += segment;
            ++count;
        }
        if (options.uuid) {
            word(commands, 0x1b);
            word(commands, 24);
            commands.append(reinterpret_cast<const char*>(options.uuid->data()), 16);
            ++count;
        }
        if (options.versionMinimum) {
            word(commands, 0x24);
            word(commands, 16);
            word(commands, options.versionMinimum->first);
            word(commands, options.versionMinimum->second);
            ++count;
        }
        for (const auto& dylib : options.dylibs) {
            std::string name = dylib;
            name.resize((dylib.size() + 1 + 7) / 8 * 8, '\0');
            word(commands, 0xc);
            word(commands, static_cast<std::uint32_t>(24 + name.size()));
            word(commands, 24); // name offset
            word(commands, 2);  // timestamp
            word(commands, 0x10000);
            word(commands, 0x10000);
            commands += name;
            ++count;
        }
        std::string file;
        word(file, wide ? 0xfeedfacf : 0xfeedface);
        word(file, static_cast<std::uint32_t>(options.cpuType));
        word(file, static_cast<std::uint32_t>(options.cpuSubtype));
        word(file, 6); // dylib
        word(file, count);
        word(file, static_cast<std::uint32_t>(commands.size()));
        word(file, 0);
        if (wide)
            word(file, 0);
        file += commands;
        file.resize(file.size() + 64, '\x90'); // stands for code
        return file;
    }

    // Slices at 4096-byte boundaries, in the order given; the table's entries are big-endian.
    static std::string fat(const std::vector<ThinMachO>& slices)
    {
        std::string file;
        bigWord(file, 0xcafebabe);
        bigWord(file, static_cast<std::uint32_t>(slices.size()));
        std::vector<std::string> images;
        std::size_t offset = 4096;
        std::vector<std::size_t> offsets;
        for (const auto& slice : slices) {
            images.push_back(thin(slice));
            offsets.push_back(offset);
            offset += (images.back().size() + 4095) / 4096 * 4096;
        }
        for (std::size_t index = 0; index < slices.size(); ++index) {
            bigWord(file, static_cast<std::uint32_t>(slices[index].cpuType));
            bigWord(file, static_cast<std::uint32_t>(slices[index].cpuSubtype));
            bigWord(file, static_cast<std::uint32_t>(offsets[index]));
            bigWord(file, static_cast<std::uint32_t>(images[index].size()));
            bigWord(file, 12);
        }
        for (std::size_t index = 0; index < slices.size(); ++index) {
            file.resize(offsets[index], '\0');
            file += images[index];
        }
        return file;
    }

    static void word(std::string& bytes, std::uint32_t value)
    {
        for (int index = 0; index < 4; ++index)
            bytes += static_cast<char>(value >> (8 * index));
    }

    static void bigWord(std::string& bytes, std::uint32_t value)
    {
        for (int index = 3; index >= 0; --index)
            bytes += static_cast<char>(value >> (8 * index));
    }
};

} // namespace testsupport
