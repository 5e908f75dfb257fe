// The binary property-list reader: trailer, offset table and object markers, each bound checked.
// References may share objects but not form a cycle, and a budget of values bounds what sharing can
// multiply, so every input ends quickly with a value or a reason.
#include "foundation/property_list_readers.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace foundation::detail {

namespace {

constexpr std::size_t trailerSize = 32;
constexpr std::size_t valueBudget = std::size_t(1) << 20;

class BinaryReader {
public:
    explicit BinaryReader(std::string_view bytes) : bytes_(bytes) {}

    PropertyListResult<PropertyListValue> read()
    {
        using Result = PropertyListResult<PropertyListValue>;
        if (bytes_.size() < 8 + trailerSize || bytes_.substr(0, 8) != "bplist00")
            return Result::failure("not a binary property list");
        const std::size_t trailer = bytes_.size() - trailerSize;
        offsetSize_ = byteAt(trailer + 6);
        referenceSize_ = byteAt(trailer + 7);
        const std::uint64_t objectCount = bigEndian(trailer + 8, 8);
        const std::uint64_t topObject = bigEndian(trailer + 16, 8);
        const std::uint64_t tableOffset = bigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8)
            return Result::failure("binary property list: bad integer sizes in the trailer");
        if (objectCount == 0 || topObject >= objectCount || tableOffset < 8 || tableOffset > trailer
            || objectCount > (trailer - tableOffset) / offsetSize_)
            return Result::failure("binary property list: the offset table lies outside the file");
        objectCount_ = objectCount;
        tableOffset_ = tableOffset;
        onPath_.assign(objectCount, false);
        auto value = object(topObject, 0);
        if (!value)
            return Result::failure("binary property list: " + error_);
        return {std::move(value), {}};
    }

private:
    std::uint8_t byteAt(std::size_t offset) const { return static_cast<std::uint8_t>(bytes_[offset]); }

    // The caller has checked that `count` bytes from `offset` lie inside the file.
    std::uint64_t bigEndian(std::size_t offset, std::size_t count) const
    {
        std::uint64_t value = 0;
        for (std::size_t index = 0; index < count; ++index)
            value = (value << 8) | byteAt(offset + index);
        return value;
    }

    bool inside(std::uint64_t offset, std::uint64_t count) const
    {
        const std::uint64_t end = bytes_.size() - trailerSize;
        return offset <= end && count <= end - offset;
    }

    std::optional<PropertyListValue> fail(std::string reason)
    {
        if (error_.empty())
            error_ = std::move(reason);
        return std::nullopt;
    }
    bool refuse(std::string reason)
    {
        fail(std::move(reason));
        return false;
    }

    std::optional<PropertyListValue> object(std::uint64_t reference, std::size_t depth)
    {
        if (reference >= objectCount_)
            return fail("object reference out of range");
        if (depth > maximumPropertyListDepth)
            return fail("nested deeper than " + std::to_string(maximumPropertyListDepth) + " levels");
        if (++valuesMade_ > valueBudget)
            return fail("too many values");
        if (onPath_[reference])
            return fail("an object contains itself");
        const std::uint64_t offset = bigEndian(tableOffset_ + reference * offsetSize_, offsetSize_);
        if (offset < 8 || !inside(offset, 1))
            return fail("object offset out of range");
        onPath_[reference] = true;
        auto value = parse(offset, depth);
        onPath_[reference] = false;
        return value;
    }

    std::optional<PropertyListValue> parse(std::uint64_t offset, std::size_t depth)
    {
        const std::uint8_t marker = byteAt(offset);
        const std::uint8_t low = marker & 0x0f;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09)
                return PropertyListValue(marker == 0x09);
            return fail("unsupported marker");
        case 0x1: return integer(offset + 1, low);
        case 0x2: return real(offset + 1, low);
        case 0x3: return date(offset + 1, marker);
        case 0x4: {
            std::uint64_t start = 0, length = 0;
            if (!lengthAndStart(offset, low, 1, start, length))
                return std::nullopt;
            const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes_.data() + start);
            return PropertyListValue(PropertyListData(begin, begin + length));
        }
        case 0x5: {
            std::uint64_t start = 0, length = 0;
            if (!lengthAndStart(offset, low, 1, start, length))
                return std::nullopt;
            return PropertyListValue(std::string(bytes_.substr(start, length)));
        }
        case 0x6: return utf16String(offset, low);
        case 0xa: return array(offset, low, depth);
        case 0xd: return dictionary(offset, low, depth);
        case 0x8: return fail("keyed-archive identifiers are not property-list values");
        default: return fail("unknown object marker");
        }
    }

    std::optional<PropertyListValue> integer(std::uint64_t offset, std::uint8_t sizeExponent)
    {
        if (sizeExponent > 4)
            return fail("integer too wide");
        const std::size_t width = std::size_t(1) << sizeExponent;
        if (!inside(offset, width))
            return fail("integer runs past the object table");
        // 16-byte integers hold their value in the low 8 bytes; 1, 2 and 4 bytes are unsigned.
        const std::size_t used = std::min<std::size_t>(width, 8);
        const std::uint64_t raw = bigEndian(offset + width - used, used);
        return PropertyListValue(static_cast<std::int64_t>(raw));
    }

    std::optional<PropertyListValue> real(std::uint64_t offset, std::uint8_t sizeExponent)
    {
        if (sizeExponent != 2 && sizeExponent != 3)
            return fail("real of unsupported width");
        const std::size_t width = std::size_t(1) << sizeExponent;
        if (!inside(offset, width))
            return fail("real runs past the object table");
        const std::uint64_t raw = bigEndian(offset, width);
        if (width == 4) {
            float value;
            const auto bits = static_cast<std::uint32_t>(raw);
            std::memcpy(&value, &bits, sizeof value);
            return PropertyListValue(static_cast<double>(value));
        }
        double value;
        std::memcpy(&value, &raw, sizeof value);
        return PropertyListValue(value);
    }

    std::optional<PropertyListValue> date(std::uint64_t offset, std::uint8_t marker)
    {
        if (marker != 0x33 || !inside(offset, 8))
            return fail("malformed date");
        const std::uint64_t raw = bigEndian(offset, 8);
        double seconds;
        std::memcpy(&seconds, &raw, sizeof seconds);
        // About ±290,000 years fit in microseconds; a property list has no business beyond ±100,000.
        if (!std::isfinite(seconds) || std::fabs(seconds) > 3.2e12)
            return fail("date out of range");
        const auto micros = static_cast<std::int64_t>(std::llround(seconds * 1e6)) + referenceDateSeconds * 1'000'000;
        return PropertyListValue(PropertyListDate(std::chrono::microseconds(micros)));
    }

    // The element count of a data, string, array or dictionary object, and where its contents start.
    bool lengthAndStart(std::uint64_t offset, std::uint8_t low, std::uint64_t unitSize, std::uint64_t& start,
                        std::uint64_t& length)
    {
        start = offset + 1;
        length = low;
        if (low == 0x0f) {
            if (!inside(start, 1))
                return refuse("length runs past the object table");
            const std::uint8_t marker = byteAt(start);
            const std::uint8_t exponent = marker & 0x0f;
            if ((marker >> 4) != 0x1 || exponent > 3)
                return refuse("malformed length");
            const std::size_t width = std::size_t(1) << exponent;
            if (!inside(start + 1, width))
                return refuse("length runs past the object table");
            length = bigEndian(start + 1, width);
            start += 1 + width;
        }
        if (length > (bytes_.size() / unitSize) || !inside(start, length * unitSize))
            return refuse("contents run past the object table");
        return true;
    }

    std::optional<PropertyListValue> utf16String(std::uint64_t offset, std::uint8_t low)
    {
        std::uint64_t start = 0, length = 0;
        if (!lengthAndStart(offset, low, 2, start, length))
            return std::nullopt;
        std::string text;
        for (std::uint64_t index = 0; index < length; ++index) {
            std::uint32_t unit = static_cast<std::uint32_t>(bigEndian(start + 2 * index, 2));
            if (unit >= 0xdc00 && unit <= 0xdfff)
                return fail("malformed UTF-16 string");
            if (unit >= 0xd800 && unit <= 0xdbff) {
                if (index + 1 >= length)
                    return fail("malformed UTF-16 string");
                const auto next = static_cast<std::uint32_t>(bigEndian(start + 2 * (index + 1), 2));
                if (next < 0xdc00 || next > 0xdfff)
                    return fail("malformed UTF-16 string");
                unit = 0x10000 + ((unit - 0xd800) << 10) + (next - 0xdc00);
                ++index;
            }
            appendUTF8(text, unit);
        }
        return PropertyListValue(std::move(text));
    }

    std::optional<PropertyListValue> array(std::uint64_t offset, std::uint8_t low, std::size_t depth)
    {
        std::uint64_t start = 0, length = 0;
        if (!lengthAndStart(offset, low, referenceSize_, start, length))
            return std::nullopt;
        PropertyListArray elements;
        for (std::uint64_t index = 0; index < length; ++index) {
            auto element = object(bigEndian(start + index * referenceSize_, referenceSize_), depth + 1);
            if (!element)
                return std::nullopt;
            elements.push_back(std::move(*element));
        }
        return PropertyListValue(std::move(elements));
    }

    std::optional<PropertyListValue> dictionary(std::uint64_t offset, std::uint8_t low, std::size_t depth)
    {
        std::uint64_t start = 0, length = 0;
        if (!lengthAndStart(offset, low, 2 * referenceSize_, start, length))
            return std::nullopt;
        std::vector<PropertyListEntry> entries;
        entries.reserve(length);
        for (std::uint64_t index = 0; index < length; ++index) {
            auto key = object(bigEndian(start + index * referenceSize_, referenceSize_), depth + 1);
            if (!key)
                return std::nullopt;
            const auto* name = key->get<std::string>();
            if (!name)
                return fail("a dictionary key is no string");
            auto value = object(bigEndian(start + (length + index) * referenceSize_, referenceSize_), depth + 1);
            if (!value)
                return std::nullopt;
            entries.push_back({std::move(*key->get<std::string>()), std::move(*value)});
        }
        return PropertyListValue(PropertyListDictionary::fromEntries(std::move(entries)));
    }

    std::string_view bytes_;
    std::size_t offsetSize_ = 0;
    std::size_t referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t tableOffset_ = 0;
    std::vector<bool> onPath_;
    std::size_t valuesMade_ = 0;
    std::string error_;
};

} // namespace

PropertyListResult<PropertyListValue> readBinaryPropertyList(std::string_view bytes)
{
    return BinaryReader(bytes).read();
}

} // namespace foundation::detail
