// How an object keeps its attribute values: one 8-byte slot per attribute. Numbers, Booleans and
// dates sit in the slot; text, bytes and decimals sit out of line behind it, in the context's arena
// when they came with the store (never freed one by one) or on the heap when set later. Whether a
// value is there at all is a bit of the object, so an absent value costs its slot only.
#pragma once

#include "data/value.h"

#include <cstdint>
#include <string_view>

namespace data {

class ObjectArena;

// Text or bytes, the characters following the header.
struct OutOfLineBytes {
    std::uint32_t size;
    bool onHeap;
    const char* data() const { return reinterpret_cast<const char*>(this + 1); }
    char* data() { return reinterpret_cast<char*>(this + 1); }
    std::string_view view() const { return {data(), size}; }
};

struct OutOfLineDecimal {
    foundation::Decimal value;
    bool onHeap;
};

union ValueSlot {
    std::int64_t integer; // integers, and dates as microseconds since the epoch
    double real;
    bool boolean;
    OutOfLineBytes* bytes; // strings and binary values
    OutOfLineDecimal* decimal;
};

// Whether values of the type live out of line (and need releasing).
constexpr bool isOutOfLine(AttributeType type)
{
    return type == AttributeType::string || type == AttributeType::binary || type == AttributeType::decimal;
}

// Fills `slot` with the present `value` of `type`; out-of-line parts go to `arena`, or to the heap
// without one. Bytes beyond what 32 bits count are a programming error (std::length_error).
void storeValue(ValueSlot& slot, AttributeType type, const Value& value, ObjectArena* arena);
// Frees what the heap holds for a slot filled by storeValue(); the arena keeps its own.
void releaseValue(ValueSlot& slot, AttributeType type);
// The value a filled slot holds.
Value loadValue(const ValueSlot& slot, AttributeType type);
// Three-way order of two filled slots of one type, as compareValues() orders their values.
int compareSlots(const ValueSlot& left, const ValueSlot& right, AttributeType type);

} // namespace data
