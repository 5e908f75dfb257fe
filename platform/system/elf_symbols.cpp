// Symbol tables through the bounded ELF readers: entries, names and the string table are all checked
// against the file's bytes; names are copied out, so a table outlives the mapping it came from.
#include "system/elf_symbols.h"

#include "system/elf_bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

constexpr std::uint8_t sttFunc = 2;
constexpr std::uint8_t sttGnuIfunc = 10;
constexpr std::uint8_t stbGlobal = 1;
constexpr std::uint8_t stbWeak = 2;

struct Candidate {
    ElfSymbol symbol;
    int rank = 0; // global before weak before local, where two names share one function
};

int bindingRank(std::uint8_t binding)
{
    return binding == stbGlobal ? 0 : binding == stbWeak ? 1 : 2;
}

// The functions of one symbol table section, with names from its linked string table.
std::vector<Candidate> functionsOf(const elf::Bytes& elf, const elf::Header& header,
                                   const std::vector<elf::SectionHeader>& sections, const elf::SectionHeader& table)
{
    std::vector<Candidate> functions;
    const bool wide = header.wide;
    const std::uint64_t minimumEntry = wide ? 24 : 16;
    if (table.entrySize < minimumEntry || !elf.has(table.offset, table.size) || table.link >= sections.size())
        return functions;
    const auto& strings = sections[table.link];
    if (!elf.has(strings.offset, strings.size))
        return functions;
    const auto names = elf.slice(strings.offset, strings.size);
    const std::uint64_t count = table.size / table.entrySize;
    for (std::uint64_t index = 0; index < count; ++index) {
        const std::uint64_t entry = table.offset + index * table.entrySize;
        // 64-bit: name 0, info 4, section 6, value 8, size 16; 32-bit: name 0, value 4, size 8, info 12, section 14.
        const std::uint64_t nameOffset = elf.read(entry, 4);
        const auto info = static_cast<std::uint8_t>(elf.read(entry + (wide ? 4 : 12), 1));
        const std::uint64_t section = elf.read(entry + (wide ? 6 : 14), 2);
        const std::uint64_t value = elf.read(entry + (wide ? 8 : 4), wide ? 8 : 4);
        const std::uint64_t size = elf.read(entry + (wide ? 16 : 8), wide ? 8 : 4);
        const std::uint8_t type = info & 0xf;
        if ((type != sttFunc && type != sttGnuIfunc) || section == 0 || size == 0 || nameOffset >= names.size())
            continue;
        const auto* name = reinterpret_cast<const char*>(names.data() + nameOffset);
        const void* end = std::memchr(name, '\0', names.size() - nameOffset);
        if (!end || end == name)
            continue;
        functions.push_back({{std::string(name, static_cast<const char*>(end)), value, size},
                             bindingRank(static_cast<std::uint8_t>(info >> 4))});
    }
    return functions;
}

} // namespace

ElfSymbolTable::ElfSymbolTable(std::vector<ElfSymbol> symbols, std::string source)
    : symbols_(std::move(symbols)), source_(std::move(source))
{
    // A function that runs past the end of the address space is no function: no address could
    // find it again, so it is dropped rather than listed.
    std::erase_if(symbols_, [](const ElfSymbol& symbol) { return symbol.size > UINT64_MAX - symbol.start; });
    std::uint64_t reach = 0;
    reach_.reserve(symbols_.size());
    for (const auto& symbol : symbols_) {
        reach = std::max(reach, symbol.start + symbol.size);
        reach_.push_back(reach);
    }
}

ElfSymbolTableResult ElfSymbolTable::parse(std::span<const std::uint8_t> bytes)
{
    std::string error;
    const auto header = elf::readHeader(bytes, error);
    if (!header)
        return {nullptr, error};
    const elf::Bytes elf(bytes, header->bigEndian);
    const auto sections = elf::sectionHeaders(elf, *header);
    std::vector<Candidate> candidates;
    std::string source;
    for (auto [type, name] : {std::pair{elf::shtSymtab, ".symtab"}, std::pair{elf::shtDynsym, ".dynsym"}}) {
        const auto table = std::find_if(sections.begin(), sections.end(),
                                        [type = type](const auto& section) { return section.type == type; });
        if (table == sections.end())
            continue;
        candidates = functionsOf(elf, *header, sections, *table);
        source = name;
        break;
    }
    // By start, then the preferred name first; one entry per (start, size).
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& left, const Candidate& right) {
        if (left.symbol.start != right.symbol.start)
            return left.symbol.start < right.symbol.start;
        if (left.symbol.size != right.symbol.size)
            return left.symbol.size > right.symbol.size;
        return left.rank < right.rank;
    });
    std::vector<ElfSymbol> symbols;
    for (auto& candidate : candidates) {
        if (!symbols.empty() && symbols.back().start == candidate.symbol.start
            && symbols.back().size == candidate.symbol.size)
            continue;
        symbols.push_back(std::move(candidate.symbol));
    }
    return {std::make_shared<const ElfSymbolTable>(std::move(symbols), std::move(source)), {}};
}

ElfSymbolTableResult ElfSymbolTable::read(const std::filesystem::path& file)
{
    ElfSymbolTableResult result;
    std::string mapError =
        elf::withMappedFile(file, [&](std::span<const std::uint8_t> bytes) { result = parse(bytes); });
    if (!mapError.empty())
        return ElfSymbolTableResult{nullptr, std::move(mapError)};
    if (!result)
        result.error = file.string() + ": " + result.error;
    return result;
}

const ElfSymbol* ElfSymbolTable::functionContaining(std::uint64_t address) const
{
    auto after = std::upper_bound(symbols_.begin(), symbols_.end(), address,
                                  [](std::uint64_t value, const ElfSymbol& symbol) { return value < symbol.start; });
    // Walk back from the last function starting at or before the address while an earlier one could
    // still reach it; the first that does is the innermost.
    for (auto index = static_cast<std::size_t>(after - symbols_.begin()); index-- > 0 && reach_[index] > address;) {
        const auto& symbol = symbols_[index];
        if (address - symbol.start < symbol.size)
            return &symbol;
    }
    return nullptr;
}

std::optional<ImageSymbols::Match> ImageSymbols::functionContaining(std::uint64_t address)
{
    const auto image = loadedImageContaining(address);
    if (!image)
        return std::nullopt;
    return functionContaining(*image, address);
}

std::optional<ImageSymbols::Match> ImageSymbols::functionContaining(const ElfIdentity& image, std::uint64_t address)
{
    if (!image.contains(address))
        return std::nullopt;
    const auto table = tableOf(image);
    const ElfSymbol* symbol = table ? table->functionContaining(address - image.slide) : nullptr;
    if (!symbol)
        return std::nullopt;
    return Match{symbol->name, symbol->start + image.slide, image.path};
}

std::size_t ImageSymbols::tablesRead() const
{
    std::lock_guard lock(mutex_);
    return tables_.size();
}

std::shared_ptr<const ElfSymbolTable> ImageSymbols::tableOf(const ElfIdentity& image)
{
    const auto key = std::pair{image.path, image.base};
    {
        std::lock_guard lock(mutex_);
        if (auto found = tables_.find(key); found != tables_.end())
            return found->second;
    }
    // Read outside the lock: another thread may read the same table meanwhile; the first kept wins.
    auto result = ElfSymbolTable::read(image.path);
    auto table = result ? result.table : std::make_shared<const ElfSymbolTable>(std::vector<ElfSymbol>{}, "");
    std::lock_guard lock(mutex_);
    return tables_.emplace(key, std::move(table)).first->second;
}

} // namespace os
