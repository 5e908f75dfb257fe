// Filling, reading, comparing and freeing the attribute slots of stored objects.
#include "data/value_slot.h"

#include "data/object_arena.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace data {
namespace {

void* allocateOutOfLine(std::size_t size, std::size_t alignment, ObjectArena* arena)
{
    if (arena)
        return arena->allocate(size, alignment);
    void* memory = std::malloc(size);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

OutOfLineBytes* storeBytes(const void* data, std::size_t size, ObjectArena* arena)
{
    if (size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("a stored value holds at most 4 GiB");
    auto* stored =
        static_cast<OutOfLineBytes*>(allocateOutOfLine(sizeof(OutOfLineBytes) + size, alignof(OutOfLineBytes), arena));
    stored->size = static_cast<std::uint32_t>(size);
    stored->onHeap = arena == nullptr;
    if (size > 0)
        std::memcpy(stored->data(), data, size);
    return stored;
}

template <typename T>
int threeWay(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

void storeValue(ValueSlot& slot, AttributeType type, const Value& value, ObjectArena* arena)
{
    switch (type) {
    case AttributeType::integer: slot.integer = std::get<std::int64_t>(value); break;
    case AttributeType::real: slot.real = std::get<double>(value); break;
    case AttributeType::boolean: slot.boolean = std::get<bool>(value); break;
    case AttributeType::date: slot.integer = std::get<foundation::Date>(value).time_since_epoch().count(); break;
    case AttributeType::string: {
        const auto& text = std::get<std::string>(value);
        slot.bytes = storeBytes(text.data(), text.size(), arena);
        break;
    }
    case AttributeType::binary: {
        const auto& bytes = std::get<Blob>(value);
        slot.bytes = storeBytes(bytes.data(), bytes.size(), arena);
        break;
    }
    case AttributeType::decimal:
        slot.decimal = new (allocateOutOfLine(sizeof(OutOfLineDecimal), alignof(OutOfLineDecimal), arena))
            OutOfLineDecimal{std::get<foundation::Decimal>(value), arena == nullptr};
        break;
    }
}

void releaseValue(ValueSlot& slot, AttributeType type)
{
    if (type == AttributeType::string || type == AttributeType::binary) {
        if (slot.bytes->onHeap)
            std::free(slot.bytes);
    } else if (type == AttributeType::decimal) {
        if (slot.decimal->onHeap)
            std::free(slot.decimal); // a Decimal has nothing to destroy
    }
}

Value loadValue(const ValueSlot& slot, AttributeType type)
{
    switch (type) {
    case AttributeType::integer: return slot.integer;
    case AttributeType::real: return slot.real;
    case AttributeType::boolean: return slot.boolean;
    case AttributeType::date: return foundation::Date(std::chrono::microseconds(slot.integer));
    case AttributeType::string: return std::string(slot.bytes->view());
    case AttributeType::binary: {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(slot.bytes->data());
        return Blob(bytes, bytes + slot.bytes->size);
    }
    case AttributeType::decimal: return slot.decimal->value;
    }
    return std::monostate{};
}

int compareSlots(const ValueSlot& left, const ValueSlot& right, AttributeType type)
{
    switch (type) {
    case AttributeType::integer:
    case AttributeType::date: return threeWay(left.integer, right.integer);
    case AttributeType::real: return threeWay(left.real, right.real);
    case AttributeType::boolean: return threeWay(left.boolean, right.boolean);
    case AttributeType::string: {
        // As std::string orders: bytes compared unsigned, a prefix first.
        const int order = left.bytes->view().compare(right.bytes->view());
        return threeWay(order, 0);
    }
    case AttributeType::binary: return compareValues(loadValue(left, type), loadValue(right, type));
    case AttributeType::decimal: return threeWay(left.decimal->value, right.decimal->value);
    }
    return 0;
}

} // namespace data
