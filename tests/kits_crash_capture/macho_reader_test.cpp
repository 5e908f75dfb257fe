// The Mach-O reader on files the tests write: thin and fat images, slices at the fat table's offsets,
// UUIDs, versions and dylibs, the instance identifier's order, files refused before mapping, damaged
// command lists and fat tables, dSYM bundles, and the reader under every truncation and seeded
// mutations of each file.
#include "kits/crash/capture/bbx_dsym.h"
#include "kits/crash/capture/bbx_macho.h"
#include "kits/crash/capture/bbx_macho_binary.h"

#include "foundation/property_list_file.h"
#include "kits/platform/host_functions.h"

#include "kits_crash_capture/mach_o_maker.h"
#include "support/mutator.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace {

using kits::BBXMachOFile;
using kits::BBXMachOLoadCommand;
using kits::BBXMachOSliceRecord;
using testsupport::MachOMaker;
using testsupport::MachOUUID;
using testsupport::ThinMachO;

constexpr MachOUUID x86UUID = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60, 0x71,
                               0x82, 0x93, 0xa4, 0xb5, 0xc6, 0xd7, 0xe8, 0xf9};
constexpr MachOUUID i386UUID = {0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5, 0x96, 0x87,
                                0x78, 0x69, 0x5a, 0x4b, 0x3c, 0x2d, 0x1e, 0x0f};
const std::string x86UUIDText = "0a1b2c3d4e5f60718293a4b5c6d7e8f9";
const std::string i386UUIDText = "f0e1d2c3b4a5968778695a4b3c2d1e0f";

ThinMachO x86Slice()
{
    return {0x01000007, 3, x86UUID, std::pair{0x000A0B01u, 0x000A0C00u}, {"@rpath/libtest.dylib"}};
}

ThinMachO i386Slice()
{
    return {7, 3, i386UUID, std::pair{0x000A0A00u, 0x000A0C00u}, {"/usr/lib/libSystem.B.dylib"}};
}

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// The mapped file's slices as the plain functions give them.
std::vector<BBXMachOSliceRecord> slicesOf(const BBXMachOFile& file)
{
    std::vector<BBXMachOSliceRecord> slices;
    kits::BBXMachOFileEnumerateSlices(&file, [&](const BBXMachOSliceRecord& slice) { slices.push_back(slice); });
    return slices;
}

std::vector<std::uint32_t> commandsOf(BBXMachOSliceRecord slice)
{
    std::vector<std::uint32_t> commands;
    kits::BBXMachOSliceEnumerateLoadCommands(
        &slice, [&](const BBXMachOLoadCommand& command) { commands.push_back(command.command); });
    return commands;
}

// A file record over bytes in memory, as a mapping would give it.
BBXMachOFile inMemory(const std::string& bytes)
{
    return {-1, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data())};
}

void putWord(std::string& bytes, std::size_t offset, std::uint32_t value)
{
    for (int index = 0; index < 4; ++index)
        bytes[offset + index] = static_cast<char>(value >> (8 * index));
}

} // namespace

TEST(MachOReader, ThinFileGivesArchitectureVersionsDylibAndUUID)
{
    testsupport::TempFolder folder;
    auto binary =
        kits::BBXMachOBinary::MachOBinaryWithPath(writeFile(folder.path() / "thin", MachOMaker::thin(x86Slice())));
    ASSERT_TRUE(binary);
    ASSERT_EQ(binary->slices().size(), 1u);
    const auto& slice = binary->slices().front();
    EXPECT_EQ(slice.architectureName(), "x86_64");
    EXPECT_EQ(slice.slice().cpuType, 0x01000007);
    EXPECT_EQ(slice.slice().cpuSubtype, 3);
    EXPECT_EQ(kits::BBXMachOFormatVersion(slice.minimumOSVersion()), "10.11.1");
    EXPECT_EQ(kits::BBXMachOFormatVersion(slice.linkedSDKVersion()), "10.12.0");
    EXPECT_EQ(slice.linkedDylibs(), std::vector<std::string>{"@rpath/libtest.dylib"});
    EXPECT_EQ(slice.uuid(), x86UUIDText);
    EXPECT_EQ(binary->path(), folder.path() / "thin");
    EXPECT_EQ(binary->URL(), "file://" + (folder.path() / "thin").string());
    EXPECT_EQ(binary->sliceForArchitecture("x86_64"), &slice);
    EXPECT_EQ(binary->sliceForArchitecture("i386"), nullptr);

    auto i386 =
        kits::BBXMachOBinary::MachOBinaryWithPath(writeFile(folder.path() / "i386", MachOMaker::thin(i386Slice())));
    ASSERT_TRUE(i386);
    ASSERT_EQ(i386->slices().size(), 1u);
    EXPECT_EQ(i386->slices().front().architectureName(), "i386");
    EXPECT_EQ(i386->slices().front().uuid(), i386UUIDText);
    EXPECT_EQ(kits::BBXMachOFormatVersion(i386->slices().front().minimumOSVersion()), "10.10.0");
}

TEST(MachOReader, FatFileSlicesLieAtTheTableOffsetsAndIdentifierFollowsNames)
{
    testsupport::TempFolder folder;
    const std::string expected = kits::KSTSHA1HexOfBytes((i386UUIDText + x86UUIDText).data(), 64);
    for (bool reversed : {false, true}) {
        const auto slices = reversed ? std::vector{i386Slice(), x86Slice()} : std::vector{x86Slice(), i386Slice()};
        const auto path = writeFile(folder.path() / (reversed ? "fat-reversed" : "fat"), MachOMaker::fat(slices));

        BBXMachOFile file;
        ASSERT_TRUE(kits::BBXMachOFileInitWithPath(&file, path.c_str()));
        const auto records = slicesOf(file);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].startAddress - file.mappedAddress, 4096);
        EXPECT_EQ(records[1].startAddress - file.mappedAddress, 8192);
        EXPECT_EQ(records[0].cpuType, slices[0].cpuType);
        EXPECT_EQ(records[1].cpuType, slices[1].cpuType);
        kits::BBXMachOFileDestroy(&file);
        EXPECT_EQ(file.fileDescriptor, -1);
        EXPECT_EQ(file.mappedAddress, nullptr);

        auto binary = kits::BBXMachOBinary::MachOBinaryWithPath(path);
        ASSERT_TRUE(binary);
        std::vector<std::string> seen;
        binary->enumerateUUIDs([&](const std::string& uuid, const std::string& architecture) {
            seen.push_back(architecture + "=" + uuid);
        });
        const std::vector<std::string> inFileOrder = reversed
                                                         ? std::vector{"i386=" + i386UUIDText, "x86_64=" + x86UUIDText}
                                                         : std::vector{"x86_64=" + x86UUIDText, "i386=" + i386UUIDText};
        EXPECT_EQ(seen, inFileOrder);
        EXPECT_EQ(binary->instanceIdentifier(), expected) << reversed;
    }
}

TEST(MachOReader, MissingPartsAndUnknownFilesGiveEmptyValues)
{
    testsupport::TempFolder folder;
    ThinMachO withoutUUID = x86Slice();
    withoutUUID.uuid.reset();
    auto binary =
        kits::BBXMachOBinary::MachOBinaryWithPath(writeFile(folder.path() / "no-uuid", MachOMaker::thin(withoutUUID)));
    ASSERT_TRUE(binary);
    ASSERT_EQ(binary->slices().size(), 1u);
    EXPECT_EQ(binary->slices().front().uuid(), "");
    EXPECT_EQ(binary->instanceIdentifier(), kits::KSTSHA1HexOfBytes("", 0));

    // 15 bytes are refused, as are folders and missing files; the record stays closed.
    BBXMachOFile file;
    for (const auto& path :
         {writeFile(folder.path() / "short", std::string(15, '\0')), folder.path(), folder.path() / "missing"}) {
        EXPECT_FALSE(kits::BBXMachOFileInitWithPath(&file, path.c_str())) << path;
        EXPECT_EQ(file.fileDescriptor, -1);
        EXPECT_EQ(file.mappedAddress, nullptr);
        EXPECT_EQ(file.mappedSize, 0u);
    }
    EXPECT_FALSE(kits::BBXMachOBinary::MachOBinaryWithPath(folder.path() / "short"));

    // 16 zero bytes: one slice of CPU type 0, no commands.
    ASSERT_TRUE(
        kits::BBXMachOFileInitWithPath(&file, writeFile(folder.path() / "zero", std::string(16, '\0')).c_str()));
    const auto records = slicesOf(file);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].cpuType, 0);
    EXPECT_EQ(records[0].cpuSubtype, 0);
    EXPECT_EQ(records[0].startAddress, file.mappedAddress);
    EXPECT_TRUE(commandsOf(records[0]).empty());
    EXPECT_STREQ(kits::BBXMachOSliceGetArchitectureName(&records[0]), "unknown");
    kits::BBXMachOFileDestroy(&file);
}

TEST(MachOReader, ArchitectureNamesAndVersions)
{
    auto name = [](std::int32_t type, std::int32_t subtype) {
        const BBXMachOSliceRecord slice{nullptr, type, subtype, 0};
        return std::string(kits::BBXMachOSliceGetArchitectureName(&slice));
    };
    EXPECT_EQ(name(0x0100000C, 0), "arm64");
    EXPECT_EQ(name(12, 11), "armv7s");
    EXPECT_EQ(name(12, 12), "armv7k");
    EXPECT_EQ(name(12, 9), "armv7");
    EXPECT_EQ(name(7, 3), "i386");
    EXPECT_EQ(name(7 | 0x01000000, 3), "x86_64");
    EXPECT_EQ(name(7 | 0x01000000, static_cast<std::int32_t>(0x80000003)), "x86_64"); // capability bits
    EXPECT_EQ(name(7 | 0x01000000, 8), "x86_64h");
    EXPECT_EQ(name(99, 0), "unknown");
    EXPECT_EQ(kits::BBXMachOSliceGetArchitectureName(nullptr), nullptr);

    EXPECT_EQ(kits::BBXMachOFormatVersion(kits::BBXMachOVersionFromPacked(0x000A0B01)), "10.11.1");
    EXPECT_EQ(kits::BBXMachOFormatVersion(kits::BBXMachOVersionFromPacked(0xFFFFFFFF)), "65535.255.255");
    EXPECT_EQ(kits::BBXMachONormalizeUUIDString(x86UUID), x86UUIDText);
}

TEST(MachOReader, DamagedCommandListsYieldNoCommands)
{
    const std::string good = MachOMaker::thin(x86Slice());
    const std::vector<std::uint32_t> all = {0x19, 0x1b, 0x24, 0xc};
    ASSERT_EQ(commandsOf({reinterpret_cast<const std::uint8_t*>(good.data()), 0, 0, good.size()}), all);
    auto commandsOfBytes = [](const std::string& bytes) {
        return commandsOf({reinterpret_cast<const std::uint8_t*>(bytes.data()), 0, 0, bytes.size()});
    };
    const std::size_t firstCommand = 32;
    const std::size_t secondCommand = firstCommand + 72;

    std::string shortCommand = good;
    putWord(shortCommand, secondCommand + 4, 4); // a command of 4 bytes
    EXPECT_TRUE(commandsOfBytes(shortCommand).empty());

    std::string pastSizeOfCommands = good;
    putWord(pastSizeOfCommands, 20, 72 + 24 + 8); // the UUID command passes sizeofcmds
    EXPECT_TRUE(commandsOfBytes(pastSizeOfCommands).empty());

    std::string pastSlice = good;
    putWord(pastSlice, 20, 0x7fffffff);
    EXPECT_TRUE(commandsOfBytes(pastSlice).empty());

    std::string tooMany = good;
    putWord(tooMany, 16, 0xffffffff); // more commands than sizeofcmds holds
    EXPECT_TRUE(commandsOfBytes(tooMany).empty());

    std::string hugeCommand = good;
    putWord(hugeCommand, secondCommand + 4, 0xfffffff8);
    EXPECT_TRUE(commandsOfBytes(hugeCommand).empty());

    EXPECT_TRUE(commandsOfBytes(good.substr(0, 31)).empty());                   // the header does not fit
    EXPECT_TRUE(commandsOfBytes(good.substr(0, good.size() - 64 - 8)).empty()); // the last command is cut

    // Fewer commands than the list holds is fine: only those are walked.
    std::string fewer = good;
    putWord(fewer, 16, 2);
    EXPECT_EQ(commandsOfBytes(fewer), (std::vector<std::uint32_t>{0x19, 0x1b}));
}

TEST(MachOReader, CommandContentsAreReadOnlyInsideTheirCommand)
{
    std::string bytes = MachOMaker::thin(x86Slice());
    const auto* start = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t uuidAt = 32 + 72;
    const std::size_t dylibAt = uuidAt + 24 + 16;

    EXPECT_FALSE(kits::BBXMachOGetUUID({0x1b, 23, start + uuidAt})); // too short for a UUID
    EXPECT_FALSE(kits::BBXMachOGetUUID({0x24, 24, start + uuidAt})); // another kind
    EXPECT_FALSE(kits::BBXMachOGetMinimumOSVersion({0x24, 15, start + uuidAt + 24}));
    EXPECT_TRUE(kits::BBXMachOGetMinimumOSVersion({0x30, 16, start + uuidAt + 24})); // watchOS form
    EXPECT_FALSE(kits::BBXMachOIsEncrypted({0x21, 19, start + uuidAt}));
    EXPECT_EQ(kits::BBXMachOGetDylibName({0xc, 48, start + dylibAt}), "@rpath/libtest.dylib");

    // The name must end inside the command: the command ends before the zero byte.
    EXPECT_FALSE(kits::BBXMachOGetDylibName({0xc, 24 + 20, start + dylibAt}));
    EXPECT_EQ(kits::BBXMachOGetDylibName({0xc, 24 + 21, start + dylibAt}), "@rpath/libtest.dylib");
    putWord(bytes, dylibAt + 8, 48); // name offset at the command's end
    EXPECT_FALSE(kits::BBXMachOGetDylibName({0xc, 48, start + dylibAt}));
    putWord(bytes, dylibAt + 8, 8); // name offset inside the fixed fields
    EXPECT_FALSE(kits::BBXMachOGetDylibName({0xc, 48, start + dylibAt}));

    std::string encryption;
    MachOMaker::word(encryption, 0x2c);
    MachOMaker::word(encryption, 24);
    MachOMaker::word(encryption, 0x1000);
    MachOMaker::word(encryption, 0x2000);
    MachOMaker::word(encryption, 1);
    MachOMaker::word(encryption, 0);
    const auto* crypt = reinterpret_cast<const std::uint8_t*>(encryption.data());
    EXPECT_TRUE(kits::BBXMachOIsEncrypted({0x2c, 24, crypt}));
    encryption[16] = 0;
    EXPECT_FALSE(kits::BBXMachOIsEncrypted({0x2c, 24, crypt}));
}

TEST(MachOReader, FatTablesAreBelievedOnlyInsideTheFile)
{
    std::string fat = MachOMaker::fat({x86Slice(), i386Slice()});
    auto bigWordAt = [&](std::size_t offset, std::uint32_t value) {
        for (int index = 0; index < 4; ++index)
            fat[offset + index] = static_cast<char>(value >> (8 * (3 - index)));
    };
    const auto start = reinterpret_cast<const std::uint8_t*>(fat.data());

    // A huge count reads only the entries the file can hold; those that name bytes outside the file
    // (read from the slices' contents) are left out.
    bigWordAt(4, 0xffffffff);
    auto records = slicesOf(inMemory(fat));
    EXPECT_LE(records.size(), (fat.size() - 8) / 20);
    EXPECT_GE(records.size(), (4096 - 8) / 20); // the zero entries before the first slice
    for (const auto& record : records)
        EXPECT_LE(record.startAddress - start + record.size, fat.size());

    bigWordAt(4, 2);
    bigWordAt(8 + 8, static_cast<std::uint32_t>(fat.size()));       // first slice starts at the end
    bigWordAt(8 + 20 + 12, static_cast<std::uint32_t>(fat.size())); // second slice too long
    EXPECT_TRUE(slicesOf(inMemory(fat)).empty());

    // Only the header: no entries at all.
    EXPECT_TRUE(slicesOf(inMemory(fat.substr(0, 8))).empty());
    // A table cut in its second entry: only the first entry is read, and its slice lies beyond the cut.
    EXPECT_TRUE(slicesOf(inMemory(MachOMaker::fat({x86Slice(), i386Slice()}).substr(0, 8 + 20 + 10))).empty());
}

TEST(MachOReader, DSYMBundleGivesIdentifierVersionsAndUUIDs)
{
    testsupport::TempFolder folder;
    const auto bundle = folder.path() / "X.dSYM";
    std::filesystem::create_directories(bundle / "Contents" / "Resources");
    EXPECT_FALSE(kits::BBXdSYM::initWithURL(bundle)); // no DWARF folder
    EXPECT_FALSE(kits::BBXdSYM::initWithURL(folder.path() / "Missing.dSYM"));
    std::filesystem::create_directories(bundle / "Contents" / "Resources" / "DWARF");
    EXPECT_FALSE(kits::BBXdSYM::initWithURL(bundle)); // nothing in it

    writeFile(bundle / "Contents" / "Resources" / "DWARF" / "X", MachOMaker::fat({x86Slice(), i386Slice()}));
    auto withoutInfo = kits::BBXdSYM::initWithURL(bundle);
    ASSERT_TRUE(withoutInfo);
    EXPECT_FALSE(withoutInfo->bundleIdentifier());

    foundation::PropertyListDictionary info{{"CFBundleIdentifier", "com.apple.xcode.dsym.com.example.x"},
                                            {"CFBundleVersion", "42"},
                                            {"CFBundleShortVersionString", "1.2.3"}};
    writeFile(bundle / "Contents" / "Info.plist", *foundation::xmlPropertyList(info).value);
    auto dsym = kits::BBXdSYM::initWithURL(bundle);
    ASSERT_TRUE(dsym);
    EXPECT_EQ(dsym->bundleIdentifier(), "com.example.x");
    EXPECT_EQ(dsym->bundleVersion(), "42");
    EXPECT_EQ(dsym->shortBundleVersion(), "1.2.3");
    EXPECT_EQ(dsym->executablePath(), bundle / "Contents" / "Resources" / "DWARF" / "X");
    EXPECT_EQ(dsym->executableURL(), kits::BBXFileURLFromPath(dsym->executablePath()));
    std::vector<std::string> uuids;
    dsym->enumerateUUIDs([&](const std::string& uuid, const std::string&) { uuids.push_back(uuid); });
    EXPECT_EQ(uuids, (std::vector{x86UUIDText, i386UUIDText}));

    // An identifier without the prefix stays as it is.
    info.set("CFBundleIdentifier", "org.example.y");
    writeFile(bundle / "Contents" / "Info.plist", *foundation::xmlPropertyList(info).value);
    EXPECT_EQ(kits::BBXdSYM::initWithURL(bundle)->bundleIdentifier(), "org.example.y");
}

TEST(MachOReader, FileURLsEscapeWhatAURLCannotHold)
{
    EXPECT_EQ(kits::BBXFileURLFromPath("/a b/c%d/ü"), "file:///a%20b/c%25d/%C3%BC");
}

TEST(MachOReader, ReaderAnswersEveryMutation)
{
    ThinMachO withoutUUID = x86Slice();
    withoutUUID.uuid.reset();
    const std::vector<std::string> samples = {MachOMaker::thin(x86Slice()), MachOMaker::thin(i386Slice()),
                                              MachOMaker::fat({x86Slice(), i386Slice()}), MachOMaker::thin(withoutUUID),
                                              std::string(15, '\0')};
    const auto seed = testsupport::fuzzSeed(26001);
    auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount(), [](std::string_view input) {
            // An exact-size copy, so the sanitizers see a read past its end.
            const auto bytes = std::make_unique<std::uint8_t[]>(input.size());
            std::copy(input.begin(), input.end(), bytes.get());
            const BBXMachOFile file{-1, input.size(), input.empty() ? nullptr : bytes.get()};
            bool sound = true;
            std::vector<std::pair<std::string, std::string>> uuids;
            kits::BBXMachOFileEnumerateSlices(&file, [&](const BBXMachOSliceRecord& record) {
                sound = sound && record.startAddress >= bytes.get()
                        && record.startAddress + record.size <= bytes.get() + input.size();
                const kits::BBXMachOSlice slice(record);
                sound = sound && (slice.uuid().empty() || slice.uuid().size() == 32);
                for (const auto& dylib : slice.linkedDylibs())
                    sound = sound && dylib.find('\0') == std::string::npos;
                uuids.emplace_back(slice.architectureName(), slice.uuid());
            });
            return sound && kits::BBXMachOInstanceIdentifier(uuids).size() == 40;
        });
    EXPECT_FALSE(failure) << failure->where;
}
