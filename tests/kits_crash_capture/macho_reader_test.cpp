// The Mach-O reader on files the tests write: thin and fat images, slices at the fat table's offsets,
// UUIDs, versions and dylibs, the instance identifier's order, files refused before mapping, damaged
// command lists, fat files running past their end refused with the reason, dSYM bundles, and the
// reader under every truncation and seeded mutations of each file.
#include "kits/crash/capture/bbx_dsym.h"
#include "kits/crash/capture/bbx_macho.h"
#include "kits/crash/capture/bbx_macho_binary.h"

#include "foundation/property_list_file.h"
#include "kits/platform/host_functions.h"

#include "kits_crash_capture/mach_o_maker.h"
#include "support/mutator.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The binary of a file the reader must accept; nullptr (and a failure naming the reason) otherwise.
std::unique_ptr<kits::BBXMachOBinary> readBinary(const std::filesystem::path& path)
{
    auto binary = kits::BBXMachOBinary::MachOBinaryWithPath(path);
    if (!binary.hasValue()) {
        ADD_FAILURE() << binary.status().message();
        return nullptr;
    }
    return std::move(binary).value();
}

// Why the reader refuses a file as a binary; "accepted" if it does not.
std::string binaryRefusal(const std::filesystem::path& path)
{
    const auto binary = kits::BBXMachOBinary::MachOBinaryWithPath(path);
    return binary.hasValue() ? "accepted" : binary.status().message();
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
    auto binary = readBinary(writeFile(folder.path() / "thin", MachOMaker::thin(x86Slice())));
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

    auto i386 = readBinary(writeFile(folder.path() / "i386", MachOMaker::thin(i386Slice())));
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

        auto binary = readBinary(path);
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
    auto binary = readBinary(writeFile(folder.path() / "no-uuid", MachOMaker::thin(withoutUUID)));
    ASSERT_TRUE(binary);
    ASSERT_EQ(binary->slices().size(), 1u);
    EXPECT_EQ(binary->slices().front().uuid(), "");
    // No UUID, no identifier: the SHA-1 of nothing would name every such file alike.
    EXPECT_EQ(binary->instanceIdentifier(), std::nullopt);

    // 15 bytes are refused, as are folders and missing files; the record stays closed.
    BBXMachOFile file;
    for (const auto& path :
         {writeFile(folder.path() / "short", std::string(15, '\0')), folder.path(), folder.path() / "missing"}) {
        EXPECT_FALSE(kits::BBXMachOFileInitWithPath(&file, path.c_str())) << path;
        EXPECT_EQ(file.fileDescriptor, -1);
        EXPECT_EQ(file.mappedAddress, nullptr);
        EXPECT_EQ(file.mappedSize, 0u);
    }
    EXPECT_EQ(binaryRefusal(folder.path() / "short"),
              (folder.path() / "short").string() + ": no regular file of at least 16 bytes that can be mapped");

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
    // As a binary it is refused: nothing in it is a Mach-O image.
    const std::string zero = binaryRefusal(folder.path() / "zero");
    EXPECT_NE(zero.find("no Mach-O image (magic number 0x00000000)"), std::string::npos) << zero;
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

TEST(MachOReader, FilesRunningPastTheirEndAreRefusedWithTheReason)
{
    const std::string good = MachOMaker::fat({x86Slice(), i386Slice()});
    auto refusal = [](const std::string& bytes) {
        std::string reason;
        std::size_t handedOut = 0;
        const auto file = inMemory(bytes);
        const bool read = kits::BBXMachOFileEnumerateSlices(
            &file, [&](const BBXMachOSliceRecord&) { ++handedOut; }, &reason);
        EXPECT_EQ(handedOut, 0u) << "a refused table hands out no slice";
        return read ? std::string("read") : reason;
    };
    auto bigWordAt = [](std::string bytes, std::size_t offset, std::uint32_t value) {
        for (int index = 0; index < 4; ++index)
            bytes[offset + index] = static_cast<char>(value >> (8 * (3 - index)));
        return bytes;
    };
    const std::string size = std::to_string(good.size());

    // A fat file cut inside its second slice is no healthy one-slice file.
    const std::string cut = good.substr(0, 8192 + 100);
    EXPECT_EQ(refusal(cut), "slice 2 of 2 (offset 8192, " + std::to_string(good.size() - 8192)
                                + " bytes) runs past the end of the file (8292 bytes)");
    EXPECT_EQ(refusal(good.substr(0, 6)), "the fat header runs past the end of the file (6 bytes)");
    EXPECT_EQ(refusal(good.substr(0, 8 + 20 + 10)),
              "the fat table of 2 slices runs past the end of the file (38 bytes)");
    EXPECT_EQ(refusal(bigWordAt(good, 4, 0xffffffff)),
              "the fat table of 4294967295 slices runs past the end of the file (" + size + " bytes)");
    EXPECT_EQ(refusal(bigWordAt(good, 8 + 8, static_cast<std::uint32_t>(good.size()))),
              "slice 1 of 2 (offset " + size + ", " + std::to_string(MachOMaker::thin(x86Slice()).size())
                  + " bytes) runs past the end of the file (" + size + " bytes)");
    EXPECT_EQ(refusal(bigWordAt(good, 4, 0)), "read"); // no slices is no damage

    // The binary gives the file and the reason; so it does for a slice whose commands run past it.
    testsupport::TempFolder folder;
    EXPECT_EQ(binaryRefusal(writeFile(folder.path() / "cut", cut)),
              (folder.path() / "cut").string() + ": " + refusal(cut));
    std::string longCommands = good;
    putWord(longCommands, 8192 + 20, 0x7fffffff);
    EXPECT_EQ(binaryRefusal(writeFile(folder.path() / "commands", longCommands)),
              (folder.path() / "commands").string()
                  + ": slice 2 of 2: the load commands (2147483647 bytes) run past the end of the slice ("
                  + std::to_string(good.size() - 8192) + " bytes)");
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
            std::string reason;
            const bool read = kits::BBXMachOFileEnumerateSlices(
                &file,
                [&](const BBXMachOSliceRecord& record) {
                    sound = sound && record.startAddress >= bytes.get()
                            && record.startAddress + record.size <= bytes.get() + input.size();
                    const kits::BBXMachOSlice slice(record);
                    sound = sound && (slice.uuid().empty() || slice.uuid().size() == 32);
                    // A slice read in part has nothing to show.
                    sound =
                        sound && (slice.problem().empty() || (slice.uuid().empty() && slice.linkedDylibs().empty()));
                    for (const auto& dylib : slice.linkedDylibs())
                        sound = sound && dylib.find('\0') == std::string::npos;
                    uuids.emplace_back(slice.architectureName(), slice.uuid());
                },
                &reason);
            // Refused files say why and hand out nothing; read ones have an identifier exactly when a
            // slice has a UUID.
            if (!read)
                return sound && uuids.empty() && !reason.empty();
            const auto identifier = kits::BBXMachOInstanceIdentifier(uuids);
            const bool anyUUID =
                std::any_of(uuids.begin(), uuids.end(), [](const auto& pair) { return !pair.second.empty(); });
            return sound && identifier.has_value() == anyUUID && (!identifier || identifier->size() == 40);
        });
    EXPECT_FALSE(failure) << failure->where;
}
