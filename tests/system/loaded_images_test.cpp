// Loaded objects and symbols: the program's UUID as readelf prints it, libc's span holding printf and
// its .eh_frame_hdr, a library without a build ID, static functions named by address, the size and
// nesting rules of look-ups, and both readers over mutated copies of the test binary's own headers,
// notes and symbol tables.
#include "system/elf_identity.h"
#include "system/elf_symbols.h"

#include "support/mutator.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>

namespace {

std::string runCommand(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output;
    if (!pipe)
        return output;
    std::array<char, 4096> buffer{};
    for (std::size_t count; (count = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;)
        output.append(buffer.data(), count);
    return output;
}

std::filesystem::path testBinary()
{
    return std::filesystem::read_symlink(os::runningExecutablePath());
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::uint64_t addressOf(const void* pointer)
{
    return reinterpret_cast<std::uint64_t>(pointer);
}

// A function of internal linkage: only .symtab names it.
__attribute__((noinline)) int staticHelperForSymbolLookup(int value)
{
    return value * 7 - 2;
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <typename T>
T at(const std::string& bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

template <typename T>
void append(std::string& bytes, const T& value)
{
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A small ELF file made of the test binary's own parts: its header and program headers, its note
// segments, and the first functions of its .symtab (when `withSymtab`) and of its .dynsym, with
// their names, under fresh section headers.
std::string compactCopyOfTestBinary(bool withSymtab)
{
    const std::string original = readFile(testBinary());
    const auto header = at<Elf64_Ehdr>(original, 0);
    std::vector<Elf64_Phdr> programs;
    for (int index = 0; index < header.e_phnum; ++index)
        programs.push_back(at<Elf64_Phdr>(original, header.e_phoff + index * sizeof(Elf64_Phdr)));
    std::vector<Elf64_Shdr> sections;
    for (int index = 0; index < header.e_shnum; ++index)
        sections.push_back(at<Elf64_Shdr>(original, header.e_shoff + index * sizeof(Elf64_Shdr)));

    // (symbols, names) of a table: the first functions with sizes, names renumbered.
    auto firstFunctions = [&](std::uint32_t type, std::size_t limit) {
        std::pair<std::string, std::string> table{{}, std::string(1, '\0')};
        for (const auto& section : sections) {
            if (section.sh_type != type)
                continue;
            const auto& strings = sections[section.sh_link];
            append(table.first, Elf64_Sym{});
            for (std::size_t index = 0; index < section.sh_size / sizeof(Elf64_Sym) && limit > 0; ++index) {
                auto symbol = at<Elf64_Sym>(original, section.sh_offset + index * sizeof(Elf64_Sym));
                if (ELF64_ST_TYPE(symbol.st_info) != STT_FUNC)
                    continue;
                const char* name = original.data() + strings.sh_offset + symbol.st_name;
                symbol.st_name = static_cast<Elf64_Word>(table.second.size());
                table.second += std::string(name) + '\0';
                append(table.first, symbol);
                --limit;
            }
        }
        return table;
    };
    const auto symtab = withSymtab ? firstFunctions(SHT_SYMTAB, 48) : std::pair<std::string, std::string>{};
    const auto dynsym = firstFunctions(SHT_DYNSYM, 16);
    const std::string sectionNames = std::string("\0.note\0.symtab\0.strtab\0.dynsym\0.dynstr\0.shstrtab\0", 48);

    std::string file(sizeof(Elf64_Ehdr) + programs.size() * sizeof(Elf64_Phdr), '\0');
    auto place = [&](const std::string& part) {
        const std::size_t offset = file.size();
        file += part;
        file.resize((file.size() + 7) / 8 * 8, '\0');
        return offset;
    };
    // Every note segment (the build ID is usually not in the first), each pointed at its copy.
    std::size_t notesAt = 0;
    std::size_t notesSize = 0;
    for (auto& program : programs) {
        if (program.p_type != PT_NOTE)
            continue;
        const std::size_t offset = place(original.substr(program.p_offset, program.p_filesz));
        if (notesSize == 0) {
            notesAt = offset;
            notesSize = program.p_filesz;
        }
        program.p_offset = offset;
    }
    const std::size_t symtabAt = place(symtab.first);
    const std::size_t strtabAt = place(symtab.second);
    const std::size_t dynsymAt = place(dynsym.first);
    const std::size_t dynstrAt = place(dynsym.second);
    const std::size_t namesAt = place(sectionNames);
    auto section = [](std::uint32_t name, std::uint32_t type, std::size_t offset, std::size_t size, std::uint32_t link,
                      std::size_t entrySize) {
        Elf64_Shdr entry{};
        entry.sh_name = name;
        entry.sh_type = type;
        entry.sh_offset = offset;
        entry.sh_size = size;
        entry.sh_link = link;
        entry.sh_addralign = type == SHT_NOTE ? 4 : 8;
        entry.sh_entsize = entrySize;
        return entry;
    };
    std::vector<Elf64_Shdr> newSections = {
        Elf64_Shdr{},
        section(1, SHT_NOTE, notesAt, notesSize, 0, 0),
        section(7, withSymtab ? SHT_SYMTAB : SHT_PROGBITS, symtabAt, symtab.first.size(), 3, sizeof(Elf64_Sym)),
        section(15, SHT_STRTAB, strtabAt, symtab.second.size(), 0, 0),
        section(23, SHT_DYNSYM, dynsymAt, dynsym.first.size(), 5, sizeof(Elf64_Sym)),
        section(31, SHT_STRTAB, dynstrAt, dynsym.second.size(), 0, 0),
        section(39, SHT_STRTAB, namesAt, sectionNames.size(), 0, 0)};
    auto newHeader = header;
    newHeader.e_phoff = sizeof(Elf64_Ehdr);
    newHeader.e_shoff = file.size();
    newHeader.e_shnum = static_cast<Elf64_Half>(newSections.size());
    newHeader.e_shstrndx = 6;
    for (const auto& entry : newSections)
        append(file, entry);
    std::memcpy(file.data(), &newHeader, sizeof newHeader);
    std::memcpy(file.data() + sizeof(Elf64_Ehdr), programs.data(), programs.size() * sizeof(Elf64_Phdr));
    return file;
}

} // namespace

TEST(LoadedImages, ProgramComesFirstWithTheUUIDReadelfPrints)
{
    const std::string output = runCommand("readelf -n '" + testBinary().string() + "' 2>/dev/null");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(output, match, std::regex("Build ID: ([0-9a-f]+)"))) << output;
    const std::string uuid = match[1].str().substr(0, 32);

    const auto images = os::loadedImages();
    ASSERT_FALSE(images.empty());
    const auto& program = images.front();
    EXPECT_EQ(program.path, os::runningExecutablePath());
    EXPECT_EQ(program.uuid, uuid);
    EXPECT_EQ(program.architecture, "x86_64");
    EXPECT_TRUE(program.contains(addressOf(reinterpret_cast<const void*>(&staticHelperForSymbolLookup))));

    // The file read from disk gives the same identity, placed at the loader's bias.
    const auto file = os::readElfIdentity(testBinary());
    ASSERT_TRUE(file) << file.error;
    EXPECT_EQ(file.identity->uuid, uuid);
    EXPECT_EQ(file.identity->base + program.slide, program.base);
    EXPECT_EQ(file.identity->size, program.size);
    EXPECT_NE(program.ehFrameHeader, 0u);
    EXPECT_EQ(file.identity->ehFrameHeader + program.slide, program.ehFrameHeader);
}

TEST(LoadedImages, LibcSpanHoldsPrintfAndItsUnwindTable)
{
    // dlsym through libc's own handle: under the sanitizers &printf is their interceptor.
    void* libc = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    const auto printfAddress = addressOf(::dlsym(libc, "printf"));
    ::dlclose(libc);
    ASSERT_NE(printfAddress, 0u);

    const auto image = os::loadedImageContaining(printfAddress);
    ASSERT_TRUE(image);
    EXPECT_NE(image->path.filename().string().find("libc.so"), std::string::npos) << image->path;
    EXPECT_LE(image->base, printfAddress);
    EXPECT_LT(printfAddress, image->base + image->size);
    EXPECT_TRUE(image->contains(image->ehFrameHeader)) << std::hex << image->ehFrameHeader;
    EXPECT_EQ(image->uuid.size(), 32u);

    os::ImageSymbols symbols;
    const auto match = symbols.functionContaining(printfAddress + 1);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->start, printfAddress);
    EXPECT_EQ(match->image, image->path);
}

TEST(LoadedImages, LibraryWithoutBuildIdHasAnEmptyUUID)
{
    const std::filesystem::path path = HORAVINE_NO_BUILD_ID_LIBRARY;
    EXPECT_EQ(runCommand("readelf -n '" + path.string() + "' 2>/dev/null").find("Build ID"), std::string::npos);
    std::unique_ptr<void, int (*)(void*)> library(::dlopen(path.c_str(), RTLD_NOW), ::dlclose);
    ASSERT_TRUE(library) << ::dlerror();
    const auto function = addressOf(::dlsym(library.get(), "horavineNoBuildIdAnswer"));
    ASSERT_NE(function, 0u);

    const auto image = os::loadedImageContaining(function);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->path, path);
    EXPECT_EQ(image->uuid, "");
    EXPECT_TRUE(image->buildId.empty());
    const auto file = os::readElfIdentity(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file.identity->uuid, "");

    os::ImageSymbols symbols;
    const auto match = symbols.functionContaining(function);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->name, "horavineNoBuildIdAnswer");
    EXPECT_EQ(match->start, function);
}

TEST(ImageSymbols, StaticFunctionIsNamedWithItsStartAndTablesAreKept)
{
    const auto function = addressOf(reinterpret_cast<const void*>(&staticHelperForSymbolLookup));
    os::ImageSymbols symbols;
    for (std::uint64_t offset : {0, 1, 5}) {
        const auto match = symbols.functionContaining(function + offset);
        ASSERT_TRUE(match) << offset;
        EXPECT_NE(match->name.find("staticHelperForSymbolLookup"), std::string::npos) << match->name;
        EXPECT_EQ(match->start, function);
        EXPECT_EQ(match->image, os::runningExecutablePath());
    }
    EXPECT_EQ(symbols.tablesRead(), 1u);            // read once, kept for the later look-ups
    EXPECT_FALSE(symbols.functionContaining(0x10)); // no image there

    const auto table = os::ElfSymbolTable::read(testBinary());
    ASSERT_TRUE(table) << table.error;
    EXPECT_EQ(table.table->source(), ".symtab");
}

TEST(ImageSymbols, LookupsHonourSizesAndNesting)
{
    const os::ElfSymbolTable table({{"outer", 0x1000, 0x100}, {"inner", 0x1010, 0x10}, {"next", 0x2000, 0x10}},
                                   ".symtab");
    auto name = [&](std::uint64_t address) {
        const auto* symbol = table.functionContaining(address);
        return symbol ? symbol->name : std::string("-");
    };
    EXPECT_EQ(name(0xfff), "-");
    EXPECT_EQ(name(0x1000), "outer");
    EXPECT_EQ(name(0x1015), "inner");
    EXPECT_EQ(name(0x1020), "outer"); // past the inner function, still in the outer one
    EXPECT_EQ(name(0x10ff), "outer");
    EXPECT_EQ(name(0x1100), "-"); // sizes are honoured: the gap before "next" is nobody's
    EXPECT_EQ(name(0x200f), "next");
    EXPECT_EQ(name(0x2010), "-");

    // A function running past the end of the address space (a damaged table) is left out: listed,
    // it could not be found at its own start.
    const os::ElfSymbolTable wrapping({{"last", UINT64_MAX - 0x20, 0x10}, {"wraps", UINT64_MAX, 0x103}}, ".symtab");
    ASSERT_EQ(wrapping.symbols().size(), 1u);
    EXPECT_EQ(wrapping.symbols()[0].name, "last");
    EXPECT_EQ(wrapping.functionContaining(UINT64_MAX), nullptr);
}

TEST(ImageSymbols, SymtabComesBeforeDynsym)
{
    const std::string withSymtab = compactCopyOfTestBinary(true);
    const auto both = os::ElfSymbolTable::parse(bytesOf(withSymtab));
    ASSERT_TRUE(both) << both.error;
    EXPECT_EQ(both.table->source(), ".symtab");
    EXPECT_FALSE(both.table->symbols().empty());

    const std::string onlyDynamic = compactCopyOfTestBinary(false);
    const auto dynamic = os::ElfSymbolTable::parse(bytesOf(onlyDynamic));
    ASSERT_TRUE(dynamic) << dynamic.error;
    EXPECT_EQ(dynamic.table->source(), ".dynsym");

    EXPECT_FALSE(os::ElfSymbolTable::parse(bytesOf("not an ELF file at all")));
}

TEST(ImageSymbols, ReadersAnswerEveryMutationOfTheTestBinarysParts)
{
    const std::vector<std::string> samples = {compactCopyOfTestBinary(true), compactCopyOfTestBinary(false)};
    // The copies hold the binary's build ID and functions, so the mutations start from real data.
    const auto original = os::parseElfIdentity(bytesOf(samples[0]));
    ASSERT_TRUE(original);
    ASSERT_EQ(original.identity->uuid.size(), 32u);

    const auto seed = testsupport::fuzzSeed(26002);
    auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount(), [](std::string_view input) {
            // An exact-size copy, so the sanitizers see a read past its end.
            const auto bytes = std::make_unique<std::uint8_t[]>(input.size());
            std::copy(input.begin(), input.end(), bytes.get());
            const std::span<const std::uint8_t> span(bytes.get(), input.size());
            const auto identity = os::parseElfIdentity(span);
            if (identity.identity.has_value() == !identity.error.empty())
                return false;
            if (identity && !identity.identity->uuid.empty() && identity.identity->uuid.size() != 32)
                return false;
            const auto table = os::ElfSymbolTable::parse(span);
            if ((table.table == nullptr) == table.error.empty())
                return false;
            if (!table)
                return true;
            // Every symbol found for its own start holds that address.
            for (const auto& symbol : table.table->symbols()) {
                const auto* found = table.table->functionContaining(symbol.start);
                if (!found || symbol.start - found->start >= found->size)
                    return false;
            }
            return true;
        });
    EXPECT_FALSE(failure) << failure->where;
}
