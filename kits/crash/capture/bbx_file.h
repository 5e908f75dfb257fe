// Record files: UTF-8 text of one JSON object per line, each with one member (the section). The
// writer (BBXFile) is async-signal-safe for unbuffered files: stack buffers, open/write/close/fstat
// only; a buffered file (1000-byte buffer, at most 999 bytes held) serves writing in normal
// operation. The reader hands back the lines that parse, in order. Hex texts carry what users wrote.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::size_t BBXFileWriteBufferSize = 1000;

struct BBXFile {
    std::int32_t fd = -1;
    std::int32_t openDepth = 0; // hashes and arrays open on the current line
    bool needComma = false;
    bool buffered = false;
    char* writeBuffer = nullptr; // buffered files only
    std::uint64_t bufferedLength = 0;
    std::uint64_t bytesWritten = 0; // starts at the file's size when opened for append
};

// Life cycle; each returns true on success. A record address in the first page counts as none.
bool BBXFileInitWithPathMode(BBXFile* file, const char* path, bool append, bool buffered);
bool BBXFileInitWithPath(BBXFile* file, const char* path, bool buffered); // appends
// Flushes and frees the buffer, stores the bytes written, closes. The record is cleared (descriptor
// -1) whatever close() returns, and a failed close is not retried.
bool BBXFileCloseWithOffset(BBXFile* file, std::uint64_t* outOffset);
bool BBXFileClose(BBXFile* file);
bool BBXFileIsOpen(const BBXFile* file);
bool BBXFileFlushWriteBuffer(BBXFile* file);
// Every byte of the writers goes through here: straight to the file, or through the buffer.
bool BBXFileWriteBuffered(BBXFile* file, const char* bytes, std::uint64_t length);
// write() until all is written: at most 50 attempts; failures go to sdk.log.
bool BBXFileWriteWithRetries(int fd, const char* bytes, std::uint64_t length);

// Structure: a line is section start, a value, section end.
bool BBXFileWriteSectionStart(BBXFile* file, const char* name);
bool BBXFileWriteSectionEnd(BBXFile* file);
bool BBXFileWriteHashStart(BBXFile* file);
bool BBXFileWriteHashEnd(BBXFile* file);
bool BBXFileWriteArrayStart(BBXFile* file);
bool BBXFileWriteArrayEnd(BBXFile* file);
bool BBXFileWriteHashKey(BBXFile* file, const char* key);

// Entries. Raw strings escape '"' and '\' with a backslash, bytes below 0x20 as \u00XX and invalid
// UTF-8 as \ufffd, so any text keeps its line readable; clean texts are written as they are. A
// missing text is null.
bool BBXFileWriteHashEntryUint64(BBXFile* file, const char* key, std::uint64_t value);
bool BBXFileWriteHashEntryInt64(BBXFile* file, const char* key, std::int64_t value);
bool BBXFileWriteHashEntryString(BBXFile* file, const char* key, const char* text);
bool BBXFileWriteHashEntryHexEncodedString(BBXFile* file, const char* key, const char* text);
bool BBXFileWriteHashEntryBoolean(BBXFile* file, const char* key, bool flag);
// Texts of normal operation (not signal-safe callers): none writes null.
bool BBXFileWriteHashEntryNSString(BBXFile* file, const char* key, const std::string* string);
// Writes nothing at all for none or an empty text.
bool BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(BBXFile* file, const char* key, const std::string* string);
bool BBXFileWriteArrayEntryUint64(BBXFile* file, std::uint64_t value);
bool BBXFileWriteArrayEntryString(BBXFile* file, const char* text);
bool BBXFileWriteArrayEntryHexEncodedString(BBXFile* file, const char* text);

// The lines of a record file that parse as JSON objects, in order, each passed through `transform`
// (which returns the object to keep, or none to drop it). Unsigned 64-bit numbers stay exact. A line
// that does not parse (cut short, broken UTF-8) is skipped. Nothing for an unreadable file, which is
// then removed when asked.
using BBXSectionTransform = std::function<std::optional<nlohmann::json>(nlohmann::json section)>;
std::optional<std::vector<nlohmann::json>> BBXFileReadSections(const char* path, bool removeIfUnreadable,
                                                               const BBXSectionTransform& transform);

// Hex texts: two lowercase characters per byte, high nibble first.
void BBXHexFromByte(std::uint8_t byte, char* out);
std::uint8_t BBXNibbleFromHexChar(char c); // 0-15, or 255 for anything else
// Fills `out` (2 * count + 1 bytes, zeroed first).
void BBXHexEncode(const std::uint8_t* bytes, std::size_t count, char* out);
// The bytes of a hex text; none when it has an odd length or a character that is no hex digit.
std::optional<std::string> BBXHexDecode(std::string_view text);
