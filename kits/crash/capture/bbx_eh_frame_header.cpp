// Binary search of the .eh_frame_hdr table; its entries are read one at a time, so a damaged count
// costs at most 64 reads, each of which may fail.
#include "kits/crash/capture/bbx_eh_frame_header.h"

namespace kits {

namespace {

std::uint64_t entryWidth(std::uint8_t encoding)
{
    switch (encoding & 0x0f) {
    case 0x02:
    case 0x0a: return 2;
    case 0x03:
    case 0x0b: return 4;
    case 0x00:
    case 0x04:
    case 0x0c: return 8;
    default: return 0; // variable-length formats cannot be searched by halving
    }
}

} // namespace

bool BBXEhFrameHeaderFindFDE(const BBXMemoryReader& memory, std::uint64_t header, std::uint64_t pc, BBXDwarfFDE& fde)
{
    std::uint8_t fields[4] = {};
    if (header < 4096 || !memory.get(header, fields, sizeof fields) || fields[0] != 1)
        return false;
    const std::uint8_t framePointerEncoding = fields[1];
    const std::uint8_t countEncoding = fields[2];
    const std::uint8_t tableEncoding = fields[3];
    const std::uint64_t width = entryWidth(tableEncoding);
    if (countEncoding == BBXDwarfEncodingOmit || tableEncoding == BBXDwarfEncodingOmit || (tableEncoding & 0x80)
        || width == 0)
        return false;
    BBXDwarfStream stream(memory, header + 4, UINT64_MAX);
    std::uint64_t framePointer = 0;
    std::uint64_t count = 0;
    if (!BBXParseAddressWithEncodingAndAdvance(stream, framePointerEncoding, header, framePointer)
        || !BBXParseAddressWithEncodingAndAdvance(stream, countEncoding, header, count) || count == 0)
        return false;
    const std::uint64_t table = stream.position();
    if (count > (UINT64_MAX - table) / (2 * width))
        return false;

    auto entry = [&](std::uint64_t index, std::uint64_t& location, std::uint64_t* address) {
        BBXDwarfStream reader(memory, table + index * 2 * width, table + (index + 1) * 2 * width);
        return BBXParseAddressWithEncodingAndAdvance(reader, tableEncoding, header, location)
               && (!address || BBXParseAddressWithEncodingAndAdvance(reader, tableEncoding, header, *address));
    };
    // The last entry whose initial location is at or below pc.
    std::uint64_t low = 0;
    std::uint64_t high = count;
    while (high - low > 1) {
        const std::uint64_t middle = low + (high - low) / 2;
        std::uint64_t location = 0;
        if (!entry(middle, location, nullptr))
            return false;
        if (location <= pc)
            low = middle;
        else
            high = middle;
    }
    std::uint64_t location = 0;
    std::uint64_t address = 0;
    if (!entry(low, location, &address) || location > pc)
        return false;
    if (!BBXDwarfParseFDERecord(memory, address, fde))
        return false;
    return pc >= fde.pcStart && pc - fde.pcStart < fde.pcRange;
}

} // namespace kits
