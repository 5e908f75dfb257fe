// Reads the persons of an address book kept as vCards (versions 2.1, 3.0 and 4.0): a .vcf file with
// any number of cards, or a folder of such files. Only the names are read: first, last, organisation.
#pragma once

#include "foundation/status.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// A person of the address book. Each value is trimmed UTF-8; an empty value is absent.
struct VCardPerson {
    std::optional<std::string> firstName;
    std::optional<std::string> lastName;
    std::optional<std::string> organization;

    friend bool operator==(const VCardPerson&, const VCardPerson&) = default;
};

struct VCardContents {
    std::vector<VCardPerson> persons; // in the order of the cards
    std::size_t skippedCards = 0;     // malformed cards left out
};

// Larger files and longer (unfolded) lines are refused: no address book needs them, and reading them
// would only let a broken or hostile file take the memory.
inline constexpr std::size_t vCardMaxFileBytes = std::size_t(32) << 20;
inline constexpr std::size_t vCardMaxLineBytes = std::size_t(1) << 20;

// Parses the bytes of a .vcf file. Fails only for a line over the limit; malformed cards are skipped
// and counted.
Result<VCardContents> parseVCards(std::string_view bytes);

// Reads a .vcf file, or every .vcf file directly inside a folder (in name order). A file that cannot
// be read or is over the limits fails the call when it was named itself; inside a folder it is left out
// with one diagnostic line. Each file with malformed cards gives one diagnostic line.
Result<std::vector<VCardPerson>> readVCardLocation(const std::filesystem::path& fileOrFolder);

} // namespace foundation
