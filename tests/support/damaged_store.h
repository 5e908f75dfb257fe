// Damage as a disk fault leaves it in a store file, for the tests of what the program does with such
// a file: one bit of a row's key flipped, so the keys of a table go out of order. SQLite's quick check
// reports it, while every row still reads.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// Flips bit 6 of the key of the second row in the leaf page that is the root of `table`'s tree (a
// table of 3 to about 50 short rows has one): key 2 becomes 66. False when the file is not laid out
// that way (no such table, a tree of more than one page, a key over 127).
inline bool flipKeyBitOfSecondRow(const std::filesystem::path& path, const std::string& table)
{
    sqlite3* db = nullptr;
    int rootPage = 0;
    int pageSize = 0;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE type='table' AND name=?", -1, &stmt,
                               nullptr)
                == SQLITE_OK
            && sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            rootPage = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        if (sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            pageSize = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    if (rootPage <= 1 || pageSize <= 0)
        return false;
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t page = static_cast<std::size_t>(rootPage - 1) * static_cast<std::size_t>(pageSize);
    const auto byte = [&bytes](std::size_t at) { return static_cast<std::uint8_t>(bytes.at(at)); };
    if (bytes.size() < page + static_cast<std::size_t>(pageSize) || byte(page) != 0x0D) // a leaf of a table
        return false;
    const std::size_t cells = byte(page + 3) * 256u + byte(page + 4);
    if (cells < 3)
        return false;
    std::size_t at = page + byte(page + 8 + 2) * 256u + byte(page + 8 + 3); // the second cell
    while (byte(at) & 0x80)                                                 // its payload size, a varint
        ++at;
    ++at;
    if (byte(at) & 0x80) // its key, a one-byte varint here
        return false;
    bytes[at] = static_cast<char>(byte(at) ^ 0x40);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

} // namespace testsupport
