// Reads the persons of an address book kept as vCards (versions 2.1, 3.0 and 4.0): a .vcf file with
// any number of cards, or a folder of such files. Only the names are read: first, last, organisation.
// Files are read as a stream, one content line at a time: memory stays at the longest line kept and
// time is linear in the bytes, whatever the file holds.
#pragma once

#include "foundation/status.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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
    std::vector<VCardPerson> persons;         // in the order of the cards
    std::size_t skippedCards = 0;             // malformed cards left out
    std::size_t skippedProperties = 0;        // properties over the line limit (a photo, say) left out of their card
    std::vector<std::string> unreadableFiles; // in a folder: "<file>: <why>" for each file left out
};

// A file over the size limit is refused, and a content line (unfolded) over the line limit is left
// out: no address book needs more, and a broken or hostile file cannot take the memory or the time.
inline constexpr std::size_t vCardMaxFileBytes = std::size_t(32) << 20;
inline constexpr std::size_t vCardMaxLineBytes = std::size_t(1) << 20;

// Parses a .vcf file handed in pieces of any size (a line may end in any piece): feed() each piece in
// order, then finish(). It keeps one content line at a time, at most vCardMaxLineBytes of it.
class VCardStreamParser {
public:
    void feed(std::string_view bytes);
    // The end of the file: the last line is taken, a card left open counts as malformed.
    VCardContents finish();

private:
    void feedContent(std::string_view bytes);
    void append(std::string_view part);
    void physicalLineEnded();
    void startLogicalLine();
    void logicalLineEnded();

    // What a card said so far of the names.
    struct Card {
        std::optional<std::vector<std::string>> n;
        std::optional<std::vector<std::string>> org;
        std::optional<std::string> fn;
        bool kindOrg = false;
        bool malformed = false;
    };

    VCardContents contents_;
    std::optional<Card> card_;              // the card being read, none between cards
    std::string line_;                      // the content line being unfolded
    bool lineOpen_ = false;                 // a physical line started line_
    bool lineTooLong_ = false;              // line_ went over the limit: what follows of it is dropped, then the line
    char lastByte_ = 0;                     // of the content line, kept or not
    std::size_t colon_ = std::string::npos; // the first ':' of line_, once seen
    bool quotedPrintable_ = false;          // the head before that colon names QUOTED-PRINTABLE
    bool softBreak_ = false;                // the line is quoted-printable and ended in '=': the next one continues it
    bool atLineStart_ = true;               // the next byte starts a physical line
    bool afterCarriageReturn_ = false;
    std::string head_; // the first bytes of the file while they may be a byte order mark
    bool headDone_ = false;
};

// Parses the bytes of a whole .vcf file.
VCardContents parseVCards(std::string_view bytes);

// How far a read is: bytes read so far of all the bytes to read. Answers false to stop the read.
using VCardProgress = std::function<bool(std::uint64_t bytesRead, std::uint64_t bytesTotal)>;

// Reads a .vcf file, or every .vcf file directly inside a folder (in name order). A file that cannot
// be read or is over the size limit fails the call when it was named itself; inside a folder it is
// left out, named in unreadableFiles and in one diagnostic line. Each file with malformed cards or
// left-out properties gives one diagnostic line. `progress`, when given, is called (on the calling
// thread) after every piece read; when it answers false the read stops and fails as cancelled.
Result<VCardContents> readVCardLocation(const std::filesystem::path& fileOrFolder, const VCardProgress& progress = {});

} // namespace foundation
