// Function names of ELF images: the file's .symtab (static functions included), else its .dynsym,
// sorted for look-ups by address. `ImageSymbols` finds the loaded image holding an address and
// reads its table once, keeping it for later look-ups.
#pragma once

#include "system/elf_identity.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace os {

struct ElfSymbol {
    std::string name;        // as the table holds it (not demangled)
    std::uint64_t start = 0; // file address
    std::uint64_t size = 0;
};

class ElfSymbolTable;

struct ElfSymbolTableResult {
    std::shared_ptr<const ElfSymbolTable> table;
    std::string error; // empty when there is a table
    explicit operator bool() const { return table != nullptr; }
};

class ElfSymbolTable {
public:
    // The defined functions (and indirect functions) of .symtab, else of .dynsym; a file with
    // neither gives an empty table.
    static ElfSymbolTableResult parse(std::span<const std::uint8_t> bytes);
    static ElfSymbolTableResult read(const std::filesystem::path& file);

    // The function whose [start, start + size) holds the file address; the innermost when functions
    // nest. nullptr when none does.
    const ElfSymbol* functionContaining(std::uint64_t address) const;

    const std::vector<ElfSymbol>& symbols() const { return symbols_; }
    // ".symtab", ".dynsym", or empty when the file has neither.
    const std::string& source() const { return source_; }

    // `symbols` sorted by start; those whose [start, start + size) would pass the end of the
    // address space are left out.
    explicit ElfSymbolTable(std::vector<ElfSymbol> symbols, std::string source);

private:
    std::vector<ElfSymbol> symbols_;   // by start
    std::vector<std::uint64_t> reach_; // reach_[i]: the largest end among symbols_[0..i]
    std::string source_;
};

// Symbol look-ups in the loaded images of this process; any thread may use it.
class ImageSymbols {
public:
    struct Match {
        std::string name;
        std::uint64_t start = 0; // address in this process
        std::filesystem::path image;
    };

    // The function holding `address` in the loaded image that holds it.
    std::optional<Match> functionContaining(std::uint64_t address);
    // The same in a given image (its slide turns the address into a file address).
    std::optional<Match> functionContaining(const ElfIdentity& image, std::uint64_t address);

    // How many images' tables have been read (each once).
    std::size_t tablesRead() const;

private:
    std::shared_ptr<const ElfSymbolTable> tableOf(const ElfIdentity& image);

    mutable std::mutex mutex_;
    std::map<std::pair<std::filesystem::path, std::uint64_t>, std::shared_ptr<const ElfSymbolTable>> tables_;
};

} // namespace os
