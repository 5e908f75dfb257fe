// The DWARF machinery of the unwinder. Each instruction and opcode consumes at least one byte of a
// bounded block and nothing branches, so every run ends; the rule and value stacks are fixed arrays.
#include "kits/crash/capture/bbx_dwarf.h"

#include "kits/crash/capture/bbx_sdk_log.h"

#include <cstring>

namespace kits {

namespace {

// DW_CFA instructions.
enum : std::uint8_t {
    cfaNop = 0x00,
    cfaSetLoc = 0x01,
    cfaAdvanceLoc1 = 0x02,
    cfaAdvanceLoc2 = 0x03,
    cfaAdvanceLoc4 = 0x04,
    cfaOffsetExtended = 0x05,
    cfaRestoreExtended = 0x06,
    cfaUndefined = 0x07,
    cfaSameValue = 0x08,
    cfaRegister = 0x09,
    cfaRememberState = 0x0a,
    cfaRestoreState = 0x0b,
    cfaDefCfa = 0x0c,
    cfaDefCfaRegister = 0x0d,
    cfaDefCfaOffset = 0x0e,
    cfaDefCfaExpression = 0x0f,
    cfaExpression = 0x10,
    cfaOffsetExtendedSf = 0x11,
    cfaDefCfaSf = 0x12,
    cfaDefCfaOffsetSf = 0x13,
    cfaValOffset = 0x14,
    cfaValOffsetSf = 0x15,
    cfaValExpression = 0x16,
    cfaGnuArgsSize = 0x2e,
    cfaGnuNegativeOffsetExtended = 0x2f,
    cfaAdvanceLoc = 0x40,
    cfaOffset = 0x80,
    cfaRestore = 0xc0,
};

// operand × alignment factor, wrapping as the 64-bit registers do (mutated input must not overflow).
std::int64_t factored(std::uint64_t operand, std::int64_t factor)
{
    return static_cast<std::int64_t>(operand * static_cast<std::uint64_t>(factor));
}

bool validRegister(std::uint64_t number)
{
    return number < BBXDwarfRegisterCount;
}

// Skips an expression block (ULEB128 length and the bytes) and gives its address.
bool skipBlock(BBXDwarfStream& stream, std::uint64_t& block)
{
    block = stream.position();
    std::uint64_t length = 0;
    return stream.uleb(length) && stream.skip(length);
}

bool readEncodedValue(BBXDwarfStream& stream, std::uint8_t format, std::uint64_t& value)
{
    switch (format) {
    case 0x00: // absptr
    case 0x04: // udata8
    case 0x0c: // sdata8
        return stream.u64(value);
    case 0x01: return stream.uleb(value);
    case 0x02: {
        std::uint16_t half = 0;
        if (!stream.u16(half))
            return false;
        value = half;
        return true;
    }
    case 0x03: {
        std::uint32_t word = 0;
        if (!stream.u32(word))
            return false;
        value = word;
        return true;
    }
    case 0x09: {
        std::int64_t signedValue = 0;
        if (!stream.sleb(signedValue))
            return false;
        value = static_cast<std::uint64_t>(signedValue);
        return true;
    }
    case 0x0a: {
        std::uint16_t half = 0;
        if (!stream.u16(half))
            return false;
        value = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int16_t>(half)));
        return true;
    }
    case 0x0b: {
        std::uint32_t word = 0;
        if (!stream.u32(word))
            return false;
        value = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(word)));
        return true;
    }
    default: return false;
    }
}

// Record length (32-bit, or 64-bit after 0xffffffff) and the end of the record; false for length 0.
bool readRecordLength(BBXDwarfStream& stream, std::uint64_t& end)
{
    std::uint32_t length = 0;
    if (!stream.u32(length) || length == 0)
        return false;
    std::uint64_t wide = length;
    if (length == 0xffffffff && !stream.u64(wide))
        return false;
    end = stream.position() + wide;
    return end >= stream.position(); // no wrap-around
}

} // namespace

bool BBXDwarfStream::bytes(void* destination, std::size_t count)
{
    if (position_ > end_ || count > end_ - position_)
        return false;
    auto* out = static_cast<std::uint8_t*>(destination);
    while (count > 0) {
        if (position_ < windowStart_ || position_ - windowStart_ >= windowLength_) {
            // Refill from the position: as much of the window as the stream holds, else what can be read.
            std::uint64_t length = end_ - position_ < windowSize ? end_ - position_ : windowSize;
            windowStart_ = position_;
            windowLength_ = 0;
            // The far part of a window may be unreadable (the end of a stack or a mapping): then only
            // what is asked is read.
            const std::uint64_t asked = count < windowSize ? count : windowSize;
            while (length > 0 && !memory_.get(position_, window_, length))
                length = length > asked ? asked : 0;
            if (length == 0)
                return false;
            windowLength_ = length;
        }
        const std::size_t offset = position_ - windowStart_;
        const std::size_t available = windowLength_ - offset;
        const std::size_t take = available < count ? available : count;
        std::memcpy(out, window_ + offset, take);
        out += take;
        count -= take;
        position_ += take;
    }
    return true;
}

bool BBXDwarfStream::u8(std::uint8_t& value)
{
    return bytes(&value, 1);
}

bool BBXDwarfStream::u16(std::uint16_t& value)
{
    return bytes(&value, 2);
}

bool BBXDwarfStream::u32(std::uint32_t& value)
{
    return bytes(&value, 4);
}

bool BBXDwarfStream::u64(std::uint64_t& value)
{
    return bytes(&value, 8);
}

bool BBXDwarfStream::uleb(std::uint64_t& value)
{
    value = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
        std::uint8_t byte = 0;
        if (!u8(byte))
            return false;
        if (shift < 64)
            value |= std::uint64_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0)
            return true;
    }
    return false; // longer than 10 bytes
}

bool BBXDwarfStream::sleb(std::int64_t& value)
{
    std::uint64_t bits = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
        std::uint8_t byte = 0;
        if (!u8(byte))
            return false;
        if (shift < 64)
            bits |= std::uint64_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            if (shift + 7 < 64 && (byte & 0x40))
                bits |= ~std::uint64_t(0) << (shift + 7);
            value = static_cast<std::int64_t>(bits);
            return true;
        }
    }
    return false;
}

bool BBXDwarfStream::skip(std::uint64_t count)
{
    if (position_ > end_ || count > end_ - position_)
        return false;
    position_ += count;
    return true;
}

bool BBXParseAddressWithEncodingAndAdvance(BBXDwarfStream& stream, std::uint8_t encoding, std::uint64_t dataBase,
                                           std::uint64_t& address)
{
    if (encoding == BBXDwarfEncodingOmit) {
        address = 0;
        return true;
    }
    const std::uint64_t start = stream.position();
    std::uint64_t value = 0;
    if (!readEncodedValue(stream, encoding & 0x0f, value)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unhandled: encoding 0x%x\n", encoding);
        return false;
    }
    switch (encoding & 0x70) {
    case 0x00: break;
    case 0x10: value += start; break;
    case 0x30: value += dataBase; break;
    default: BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unhandled: relative encoding 0x%x\n", encoding); return false;
    }
    if (encoding & 0x80) {
        std::uint64_t target = 0;
        if (value == 0 || !stream.memory().get(value, &target, sizeof target))
            return false;
        value = target;
    }
    address = value;
    return true;
}

bool BBXDwarfParseCIERecord(const BBXMemoryReader& memory, std::uint64_t address, BBXDwarfCIE& cie)
{
    cie = BBXDwarfCIE{};
    cie.address = address;
    BBXDwarfStream stream(memory, address, UINT64_MAX);
    std::uint64_t end = 0;
    if (!readRecordLength(stream, end)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: CIE length invalid\n");
        return false;
    }
    BBXDwarfStream record(memory, stream.position(), end);
    std::uint32_t identifier = 0;
    if (!record.u32(identifier))
        return false;
    if (identifier != 0) {
        // The Part goes on here; a record that is no CIE would only be misread, so it stops.
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: CIE flag not found\n");
        return false;
    }
    if (!record.u8(cie.version))
        return false;
    if (cie.version != 1 && cie.version != 3) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: CIE version %u unsupported\n",
                static_cast<unsigned>(cie.version));
        return false;
    }
    std::size_t length = 0;
    for (;;) {
        std::uint8_t character = 0;
        if (!record.u8(character))
            return false;
        if (character == 0)
            break;
        if (length + 1 >= sizeof cie.augmentation)
            return false;
        cie.augmentation[length++] = static_cast<char>(character);
    }
    if (length > 0 && cie.augmentation[0] != 'z') {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unimplemented: augmentation string %s\n", cie.augmentation);
        return false;
    }
    if (!record.uleb(cie.codeAlignment) || !record.sleb(cie.dataAlignment))
        return false;
    if (cie.version == 1) {
        std::uint8_t returnRegister = 0;
        if (!record.u8(returnRegister))
            return false;
        cie.returnAddressRegister = returnRegister;
    } else if (!record.uleb(cie.returnAddressRegister)) {
        return false;
    }
    if (length > 0) {
        cie.hasAugmentationData = true;
        std::uint64_t dataLength = 0;
        if (!record.uleb(dataLength) || dataLength > record.end() - record.position())
            return false;
        const std::uint64_t dataEnd = record.position() + dataLength;
        BBXDwarfStream data(memory, record.position(), dataEnd);
        for (std::size_t index = 1; index < length; ++index) {
            switch (cie.augmentation[index]) {
            case 'L':
                if (!data.u8(cie.lsdaEncoding))
                    return false;
                break;
            case 'P':
                if (!data.u8(cie.personalityEncoding)
                    || !BBXParseAddressWithEncodingAndAdvance(data, cie.personalityEncoding, 0, cie.personality)) {
                    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Found an invalid start address\n");
                    return false;
                }
                break;
            case 'R':
                if (!data.u8(cie.fdeEncoding))
                    return false;
                break;
            case 'S': cie.signalFrame = true; break;
            default: {
                const char entry[2] = {cie.augmentation[index], 0};
                BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unhandled augmentation string entry %s\n", entry);
                return false;
            }
            }
        }
        record.skip(dataLength);
    }
    cie.instructionsStart = record.position();
    cie.instructionsEnd = end;
    return true;
}

bool BBXDwarfParseFDERecord(const BBXMemoryReader& memory, std::uint64_t address, BBXDwarfFDE& fde)
{
    fde = BBXDwarfFDE{};
    fde.address = address;
    BBXDwarfStream stream(memory, address, UINT64_MAX);
    std::uint64_t end = 0;
    if (!readRecordLength(stream, end)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: FDE has zero length\n");
        return false;
    }
    BBXDwarfStream record(memory, stream.position(), end);
    const std::uint64_t pointerAt = record.position();
    std::uint32_t ciePointer = 0;
    if (!record.u32(ciePointer) || ciePointer == 0 || ciePointer > pointerAt) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: CIE offset invalid\n");
        return false;
    }
    if (!BBXDwarfParseCIERecord(memory, pointerAt - ciePointer, fde.cie)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to parse CIE record\n");
        return false;
    }
    if (!BBXParseAddressWithEncodingAndAdvance(record, fde.cie.fdeEncoding, 0, fde.pcStart) || fde.pcStart == 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Found an invalid start address\n");
        return false;
    }
    std::uint64_t range = 0;
    if (!readEncodedValue(record, fde.cie.fdeEncoding & 0x0f, range)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Found an invalid address range\n");
        return false;
    }
    fde.pcRange = range;
    if (fde.cie.hasAugmentationData) {
        std::uint64_t dataLength = 0;
        if (!record.uleb(dataLength) || !record.skip(dataLength))
            return false;
    }
    fde.instructionsStart = record.position();
    fde.instructionsEnd = end;
    return true;
}

bool BBXDwarfInstructionsEnumerate(const BBXMemoryReader& memory, std::uint64_t start, std::uint64_t end,
                                   const BBXDwarfCIE& cie, std::uint64_t location, std::uint64_t pc,
                                   BBXDwarfRuleMachine& machine)
{
    BBXDwarfStream stream(memory, start, end);
    auto& state = machine.state;
    const auto codeAlignment = cie.codeAlignment;
    const auto dataAlignment = cie.dataAlignment;
    const char* name = "";
    auto validFor = [&](std::uint64_t number) {
        if (validRegister(number))
            return true;
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Found an invalid %s register number\n", name);
        return false;
    };
    // A rule for a register, and its trace line (the operand as a number, or the expression's address).
    auto setRule = [&](std::uint64_t number, BBXDwarfRuleKind kind, std::int64_t operand) {
        if (!validFor(number))
            return false;
        if (kind == BBXDwarfRuleKind::expression || kind == BBXDwarfRuleKind::valueExpression)
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %zu, %p\n", name, static_cast<std::size_t>(number),
                    reinterpret_cast<void*>(operand));
        else
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %zu, %zd\n", name, static_cast<std::size_t>(number),
                    static_cast<std::ptrdiff_t>(operand));
        state.registers[number] = {kind, operand};
        return true;
    };
    auto defineCfa = [&](std::uint64_t number, std::int64_t offset) {
        if (!validFor(number))
            return false;
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %zu, %zd\n", name, static_cast<std::size_t>(number),
                static_cast<std::ptrdiff_t>(offset));
        state.cfaRegister = number;
        state.cfaOffset = offset;
        state.cfaExpression = 0;
        return true;
    };
    auto restore = [&](std::uint64_t number) {
        if (!validFor(number))
            return false;
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %zu\n", name, static_cast<std::size_t>(number));
        state.registers[number] = machine.initial.registers[number];
        return true;
    };
    auto advance = [&](std::uint64_t delta) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %zu\n", name, static_cast<std::size_t>(delta));
        location += delta * codeAlignment;
        return true;
    };
    auto trace = [&] {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s\n", name);
        return true;
    };
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Running instructions from %p to %p\n", reinterpret_cast<void*>(start),
            reinterpret_cast<void*>(end));
    while (!stream.atEnd() && location <= pc) {
        std::uint8_t opcode = 0;
        if (!stream.u8(opcode))
            return false;
        std::uint64_t number = 0;
        std::uint64_t unsignedOperand = 0;
        std::int64_t signedOperand = 0;
        bool done = false;
        switch (opcode & 0xc0) {
        case cfaAdvanceLoc:
            name = "DW_CFA_advance_loc";
            done = advance(opcode & 0x3f);
            break;
        case cfaOffset:
            name = "DW_CFA_offset";
            done = stream.uleb(unsignedOperand)
                   && setRule(opcode & 0x3f, BBXDwarfRuleKind::offset, factored(unsignedOperand, dataAlignment));
            break;
        case cfaRestore:
            name = "DW_CFA_restore";
            done = restore(opcode & 0x3f);
            break;
        default:
            switch (opcode) {
            case cfaNop:
                name = "DW_CFA_nop";
                done = trace();
                break;
            case cfaSetLoc:
                name = "DW_CFA_set_loc";
                done = BBXParseAddressWithEncodingAndAdvance(stream, cie.fdeEncoding, 0, location);
                if (done)
                    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %p\n", name, reinterpret_cast<void*>(location));
                break;
            case cfaAdvanceLoc1: {
                name = "DW_CFA_advance_loc1";
                std::uint8_t delta = 0;
                done = stream.u8(delta) && advance(delta);
                break;
            }
            case cfaAdvanceLoc2: {
                name = "DW_CFA_advance_loc2";
                std::uint16_t delta = 0;
                done = stream.u16(delta) && advance(delta);
                break;
            }
            case cfaAdvanceLoc4: {
                name = "DW_CFA_advance_loc4";
                std::uint32_t delta = 0;
                done = stream.u32(delta) && advance(delta);
                break;
            }
            case cfaOffsetExtended:
                name = "DW_CFA_offset_extended";
                done = stream.uleb(number) && stream.uleb(unsignedOperand)
                       && setRule(number, BBXDwarfRuleKind::offset, factored(unsignedOperand, dataAlignment));
                break;
            case cfaOffsetExtendedSf:
                name = "DW_CFA_offset_extended_sf";
                done = stream.uleb(number) && stream.sleb(signedOperand)
                       && setRule(number, BBXDwarfRuleKind::offset,
                                  factored(static_cast<std::uint64_t>(signedOperand), dataAlignment));
                break;
            case cfaGnuNegativeOffsetExtended:
                name = "DW_CFA_GNU_negative_offset_extended";
                done = stream.uleb(number) && stream.uleb(unsignedOperand)
                       && setRule(number, BBXDwarfRuleKind::offset, factored(0 - unsignedOperand, dataAlignment));
                break;
            case cfaValOffset:
                name = "DW_CFA_val_offset";
                done = stream.uleb(number) && stream.uleb(unsignedOperand)
                       && setRule(number, BBXDwarfRuleKind::valueOffset, factored(unsignedOperand, dataAlignment));
                break;
            case cfaValOffsetSf:
                name = "DW_CFA_val_offset_sf";
                done = stream.uleb(number) && stream.sleb(signedOperand)
                       && setRule(number, BBXDwarfRuleKind::valueOffset,
                                  factored(static_cast<std::uint64_t>(signedOperand), dataAlignment));
                break;
            case cfaRestoreExtended:
                name = "DW_CFA_restore_extended";
                done = stream.uleb(number) && restore(number);
                break;
            case cfaUndefined:
                name = "DW_CFA_undefined";
                done = stream.uleb(number) && setRule(number, BBXDwarfRuleKind::undefined, 0);
                break;
            case cfaSameValue:
                name = "DW_CFA_same_value";
                done = stream.uleb(number) && setRule(number, BBXDwarfRuleKind::sameValue, 0);
                break;
            case cfaRegister:
                name = "DW_CFA_register";
                done = stream.uleb(number) && stream.uleb(unsignedOperand) && validFor(unsignedOperand)
                       && setRule(number, BBXDwarfRuleKind::inRegister, static_cast<std::int64_t>(unsignedOperand));
                break;
            case cfaRememberState:
                name = "DW_CFA_remember_state";
                done = trace() && machine.depth < BBXDwarfRuleMachine::rememberDepth
                       && (machine.remembered[machine.depth++] = state, true);
                break;
            case cfaRestoreState:
                name = "DW_CFA_restore_state";
                done = trace() && machine.depth > 0 && (state = machine.remembered[--machine.depth], true);
                break;
            case cfaDefCfa:
                name = "DW_CFA_def_cfa";
                done = stream.uleb(number) && stream.uleb(unsignedOperand)
                       && defineCfa(number, static_cast<std::int64_t>(unsignedOperand));
                break;
            case cfaDefCfaSf:
                name = "DW_CFA_def_cfa_sf";
                done = stream.uleb(number) && stream.sleb(signedOperand)
                       && defineCfa(number, factored(static_cast<std::uint64_t>(signedOperand), dataAlignment));
                break;
            case cfaDefCfaRegister:
                name = "DW_CFA_def_cfa_register";
                done = stream.uleb(number) && defineCfa(number, state.cfaOffset);
                break;
            case cfaDefCfaOffset:
                name = "DW_CFA_def_cfa_offset";
                done = stream.uleb(unsignedOperand)
                       && defineCfa(state.cfaRegister, static_cast<std::int64_t>(unsignedOperand));
                break;
            case cfaDefCfaOffsetSf:
                name = "DW_CFA_def_cfa_offset_sf";
                done =
                    stream.sleb(signedOperand)
                    && defineCfa(state.cfaRegister, factored(static_cast<std::uint64_t>(signedOperand), dataAlignment));
                break;
            case cfaDefCfaExpression: {
                name = "DW_CFA_def_cfa_expression";
                std::uint64_t block = 0;
                done = skipBlock(stream, block);
                if (done) {
                    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %p\n", name, reinterpret_cast<void*>(block));
                    state.cfaExpression = block;
                }
                break;
            }
            case cfaExpression:
            case cfaValExpression: {
                name = opcode == cfaExpression ? "DW_CFA_expression" : "DW_CFA_val_expression";
                std::uint64_t block = 0;
                done = stream.uleb(number) && skipBlock(stream, block)
                       && setRule(number,
                                  opcode == cfaExpression ? BBXDwarfRuleKind::expression
                                                          : BBXDwarfRuleKind::valueExpression,
                                  static_cast<std::int64_t>(block));
                break;
            }
            case cfaGnuArgsSize:
                name = "DW_CFA_GNU_args_size";
                done = stream.uleb(unsignedOperand);
                if (done)
                    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s %zu\n", name,
                            static_cast<std::size_t>(unsignedOperand));
                break;
            default:
                BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unrecognized DWARF instruction 0x%x\n",
                        static_cast<unsigned>(opcode));
                break;
            }
        }
        if (!done) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Failed to execute dwarf instruction 0x%x\n",
                    static_cast<unsigned>(opcode));
            return false;
        }
    }
    return true;
}

namespace {

// Registers above 16 read as 0, as the step knows nothing of them.
std::uint64_t registerValue(const BBXDwarfRegisters& registers, std::uint64_t number)
{
    if (validRegister(number))
        return registers.value[number];
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unrecognized get register number %zu\n",
            static_cast<std::size_t>(number));
    return 0;
}

bool readWord(const BBXMemoryReader& memory, std::uint64_t address, std::uint64_t& value)
{
    return memory.get(address, &value, sizeof value);
}

// The name in an opcode's trace line (DW_OP_and's line reads "DW_OP_plus_and"); none for an opcode
// the machine does not know.
const char* opcodeName(std::uint8_t opcode)
{
    switch (opcode) {
    case 0x03: return "DW_OP_addr";
    case 0x06: return "DW_OP_deref";
    case 0x08: return "DW_OP_const1u";
    case 0x09: return "DW_OP_const1s";
    case 0x0a: return "DW_OP_const2u";
    case 0x0b: return "DW_OP_const2s";
    case 0x0c: return "DW_OP_const4u";
    case 0x0d: return "DW_OP_const4s";
    case 0x0e: return "DW_OP_const8u";
    case 0x0f: return "DW_OP_const8s";
    case 0x10: return "DW_OP_constu";
    case 0x11: return "DW_OP_consts";
    case 0x12: return "DW_OP_dup";
    case 0x13: return "DW_OP_drop";
    case 0x14: return "DW_OP_over";
    case 0x15: return "DW_OP_pick";
    case 0x16: return "DW_OP_swap";
    case 0x17: return "DW_OP_rot";
    case 0x19: return "DW_OP_abs";
    case 0x1a: return "DW_OP_plus_and";
    case 0x1b: return "DW_OP_div";
    case 0x1c: return "DW_OP_minus";
    case 0x1d: return "DW_OP_mod";
    case 0x1e: return "DW_OP_mul";
    case 0x1f: return "DW_OP_neg";
    case 0x20: return "DW_OP_not";
    case 0x21: return "DW_OP_or";
    case 0x22: return "DW_OP_plus";
    case 0x23: return "DW_OP_plus_uconst";
    case 0x24: return "DW_OP_shl";
    case 0x25: return "DW_OP_shr";
    case 0x26: return "DW_OP_shra";
    case 0x27: return "DW_OP_xor";
    case 0x29: return "DW_OP_eq";
    case 0x2a: return "DW_OP_ge";
    case 0x2b: return "DW_OP_gt";
    case 0x2c: return "DW_OP_le";
    case 0x2d: return "DW_OP_lt";
    case 0x2e: return "DW_OP_ne";
    case 0x92: return "DW_OP_bregx";
    case 0x94: return "DW_OP_deref_size";
    case 0x96: return "DW_OP_nop";
    default: return nullptr;
    }
}

} // namespace

void BBXDwarfExpressionMachine::push(std::uint64_t value)
{
    if (top_ >= capacity) {
        invalidate();
        return;
    }
    values_[top_++] = value;
}

std::uint64_t BBXDwarfExpressionMachine::pop()
{
    if (top_ == 0) {
        invalidate();
        return 0;
    }
    return values_[--top_];
}

std::uint64_t BBXDwarfExpressionMachine::pick(std::uint64_t depth)
{
    if (depth >= static_cast<std::uint64_t>(top_)) {
        invalidate();
        return 0;
    }
    return values_[top_ - 1 - static_cast<int>(depth)];
}

void BBXDwarfExpressionMachine::invalidate()
{
    valid_ = false;
    top_ = 0;
}

bool BBXDwarfExpressionMachineExecuteNextOpcode(BBXDwarfExpressionMachine& machine)
{
    auto& code = machine.code();
    auto& stack = machine;
    const auto& registers = machine.registers();
    std::uint8_t opcode = 0;
    if (!code.u8(opcode))
        return false;
    auto binary = [&](auto operation) {
        const std::uint64_t right = stack.pop();
        const std::uint64_t left = stack.pop();
        stack.push(operation(left, right));
        return true;
    };
    auto compare = [&](auto operation) {
        return binary([&](std::uint64_t left, std::uint64_t right) -> std::uint64_t {
            return operation(static_cast<std::int64_t>(left), static_cast<std::int64_t>(right)) ? 1 : 0;
        });
    };
    if (opcode >= 0x30 && opcode <= 0x4f) { // DW_OP_lit0..31
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] DW_OP_lit%u\n", opcode - 0x30u);
        stack.push(opcode - 0x30u);
        return true;
    }
    if (opcode >= 0x70 && opcode <= 0x8f) { // DW_OP_breg0..31
        std::int64_t offset = 0;
        if (!code.sleb(offset))
            return false;
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] DW_OP_breg%u %zd\n", opcode - 0x70u,
                static_cast<std::ptrdiff_t>(offset));
        stack.push(registerValue(registers, opcode - 0x70u) + static_cast<std::uint64_t>(offset));
        return true;
    }
    if (const char* name = opcodeName(opcode))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] %s\n", name);
    std::uint64_t value = 0;
    switch (opcode) {
    case 0x03: // addr
        if (!code.u64(value))
            return false;
        stack.push(value);
        return true;
    case 0x06: // deref
        if (!readWord(code.memory(), stack.pop(), value)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: DW_OP_deref failed to read memory\n");
            return false;
        }
        stack.push(value);
        return true;
    case 0x08:   // const1u
    case 0x09:   // const1s
    case 0x0a:   // const2u
    case 0x0b:   // const2s
    case 0x0c:   // const4u
    case 0x0d:   // const4s
    case 0x0e:   // const8u
    case 0x0f: { // const8s
        static constexpr std::uint8_t formats[] = {0x00, 0x00, 0x02, 0x0a, 0x03, 0x0b, 0x04, 0x0c};
        if (opcode == 0x08 || opcode == 0x09) {
            std::uint8_t byte = 0;
            if (!code.u8(byte))
                return false;
            value = opcode == 0x08
                        ? byte
                        : static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int8_t>(byte)));
        } else if (!readEncodedValue(code, formats[opcode - 0x08], value)) {
            return false;
        }
        stack.push(value);
        return true;
    }
    case 0x10: // constu
        if (!code.uleb(value))
            return false;
        stack.push(value);
        return true;
    case 0x11: { // consts
        std::int64_t signedValue = 0;
        if (!code.sleb(signedValue))
            return false;
        stack.push(static_cast<std::uint64_t>(signedValue));
        return true;
    }
    case 0x12: stack.push(stack.pick(0)); return true; // dup
    case 0x13: stack.pop(); return true;               // drop
    case 0x14: stack.push(stack.pick(1)); return true; // over
    case 0x15: {                                       // pick
        std::uint8_t index = 0;
        if (!code.u8(index))
            return false;
        stack.push(stack.pick(index));
        return true;
    }
    case 0x16: { // swap
        const std::uint64_t top = stack.pop();
        const std::uint64_t second = stack.pop();
        stack.push(top);
        stack.push(second);
        return true;
    }
    case 0x17: { // rot: the top becomes the third entry
        const std::uint64_t top = stack.pop();
        const std::uint64_t second = stack.pop();
        const std::uint64_t third = stack.pop();
        stack.push(top);
        stack.push(third);
        stack.push(second);
        return true;
    }
    case 0x19: { // abs
        const std::uint64_t top = stack.pop();
        stack.push(static_cast<std::int64_t>(top) < 0 ? 0 - top : top);
        return true;
    }
    case 0x1a: return binary([](std::uint64_t l, std::uint64_t r) { return l & r; });
    case 0x1b: { // div (signed); a zero divisor fails
        const std::uint64_t right = stack.pop();
        const std::uint64_t left = stack.pop();
        if (right == 0)
            return false;
        const auto divisor = static_cast<std::int64_t>(right);
        stack.push(divisor == -1 ? 0 - left : static_cast<std::uint64_t>(static_cast<std::int64_t>(left) / divisor));
        return true;
    }
    case 0x1c: return binary([](std::uint64_t l, std::uint64_t r) { return l - r; });
    case 0x1d: { // mod; a zero divisor fails
        const std::uint64_t right = stack.pop();
        const std::uint64_t left = stack.pop();
        if (right == 0)
            return false;
        stack.push(left % right);
        return true;
    }
    case 0x1e: return binary([](std::uint64_t l, std::uint64_t r) { return l * r; });
    case 0x1f: stack.push(0 - stack.pop()); return true; // neg
    case 0x20: stack.push(~stack.pop()); return true;    // not
    case 0x21: return binary([](std::uint64_t l, std::uint64_t r) { return l | r; });
    case 0x22: return binary([](std::uint64_t l, std::uint64_t r) { return l + r; });
    case 0x23: // plus_uconst
        if (!code.uleb(value))
            return false;
        stack.push(stack.pop() + value);
        return true;
    case 0x24: return binary([](std::uint64_t l, std::uint64_t r) { return r < 64 ? l << r : 0; });
    case 0x25: return binary([](std::uint64_t l, std::uint64_t r) { return r < 64 ? l >> r : 0; });
    case 0x26:
        return binary([](std::uint64_t l, std::uint64_t r) {
            const auto signedLeft = static_cast<std::int64_t>(l);
            return static_cast<std::uint64_t>(signedLeft >> (r < 64 ? r : 63));
        });
    case 0x27: return binary([](std::uint64_t l, std::uint64_t r) { return l ^ r; });
    case 0x29: return compare([](std::int64_t l, std::int64_t r) { return l == r; });
    case 0x2a: return compare([](std::int64_t l, std::int64_t r) { return l >= r; });
    case 0x2b: return compare([](std::int64_t l, std::int64_t r) { return l > r; });
    case 0x2c: return compare([](std::int64_t l, std::int64_t r) { return l <= r; });
    case 0x2d: return compare([](std::int64_t l, std::int64_t r) { return l < r; });
    case 0x2e: return compare([](std::int64_t l, std::int64_t r) { return l != r; });
    case 0x92: { // bregx
        std::int64_t offset = 0;
        if (!code.uleb(value) || !code.sleb(offset))
            return false;
        stack.push(registerValue(registers, value) + static_cast<std::uint64_t>(offset));
        return true;
    }
    case 0x94: { // deref_size
        std::uint8_t size = 0;
        if (!code.u8(size) || (size != 1 && size != 2 && size != 4 && size != 8))
            return false;
        value = 0;
        if (!code.memory().get(stack.pop(), &value, size))
            return false;
        stack.push(value);
        return true;
    }
    case 0x96: return true; // nop
    default:                // branches and the rest are not used by call-frame information
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unrecognized DWARF expression opcode 0x%x\n",
                static_cast<unsigned>(opcode));
        return false;
    }
}

bool BBXDwarfEvaluateExpression(const BBXMemoryReader& memory, std::uint64_t block, const BBXDwarfRegisters& registers,
                                std::uint64_t initial, std::uint64_t& result)
{
    BBXDwarfStream head(memory, block, UINT64_MAX);
    std::uint64_t length = 0;
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] starting at %p with initial value %p\n", reinterpret_cast<void*>(block),
            reinterpret_cast<void*>(initial));
    if (!head.uleb(length) || length == 0 || length > UINT64_MAX - head.position()) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: DWARF expression length is zero\n");
        return false;
    }
    BBXDwarfExpressionMachine machine(memory, head.position(), head.position() + length, registers);
    machine.push(initial);
    while (!machine.atEnd()) {
        if (!BBXDwarfExpressionMachineExecuteNextOpcode(machine) || !machine.valid())
            return false;
    }
    if (machine.empty()) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: DWARF expression hasn't completed execution\n");
        return false;
    }
    result = machine.pick(0);
    return true;
}

bool BBXDwarfUnwindComputeRules(const BBXMemoryReader& memory, const BBXDwarfFDE& fde, std::uint64_t pc,
                                BBXDwarfFrameRules& rules)
{
    BBXDwarfRuleMachine machine;
    if (!BBXDwarfInstructionsEnumerate(memory, fde.cie.instructionsStart, fde.cie.instructionsEnd, fde.cie, 0,
                                       UINT64_MAX, machine)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to run CIE instructions\n");
        return false;
    }
    machine.initial = machine.state;
    machine.depth = 0;
    if (pc < fde.pcStart) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: The FDE pcOffset value cannot be negative\n");
        return false;
    }
    if (!BBXDwarfInstructionsEnumerate(memory, fde.instructionsStart, fde.instructionsEnd, fde.cie, fde.pcStart, pc,
                                       machine)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to run FDE instructions\n");
        return false;
    }
    rules.state = machine.state;
    rules.returnColumn =
        validRegister(fde.cie.returnAddressRegister) ? fde.cie.returnAddressRegister : BBXDwarfRegisterRIP;
    return true;
}

bool BBXDwarfGetSavedRegister(const BBXMemoryReader& memory, std::uint64_t number, const BBXDwarfRule& rule,
                              std::uint64_t cfa, const BBXDwarfRegisters& registers, std::uint64_t& value)
{
    const auto operand = static_cast<std::uint64_t>(rule.operand);
    value = 0;
    switch (rule.kind) {
    case BBXDwarfRuleKind::none:
    case BBXDwarfRuleKind::sameValue:
    case BBXDwarfRuleKind::undefined: return false;
    default: break;
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Getting register %x\n", static_cast<unsigned>(number));
    switch (rule.kind) {
    case BBXDwarfRuleKind::offset:
        if (!readWord(memory, cfa + operand, value)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to read CFA value\n");
            value = 0; // unreadable: assigned as 0, and the caller's checks end the walk
        }
        break;
    case BBXDwarfRuleKind::valueOffset: value = cfa + operand; break;
    case BBXDwarfRuleKind::inRegister: value = registerValue(registers, operand); break;
    case BBXDwarfRuleKind::expression: {
        std::uint64_t address = 0;
        if (!BBXDwarfEvaluateExpression(memory, operand, registers, cfa, address)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to evaluate expression\n");
            value = 0;
        } else if (!readWord(memory, address, value)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to read memory computed from expression\n");
            value = 0;
        }
        break;
    }
    case BBXDwarfRuleKind::valueExpression:
        if (!BBXDwarfEvaluateExpression(memory, operand, registers, cfa, value)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to evaluate expression\n");
            value = 0;
        }
        break;
    default: break;
    }
    return true;
}

BBXDwarfStep BBXDwarfUnwindAssignRegisters(const BBXMemoryReader& memory, const BBXDwarfFrameRules& rules,
                                           BBXDwarfRegisters& registers)
{
    const auto& state = rules.state;
    const std::uint64_t returnColumn = validRegister(rules.returnColumn) ? rules.returnColumn : BBXDwarfRegisterRIP;
    std::uint64_t cfa = 0;
    if (state.cfaExpression != 0) {
        if (!BBXDwarfEvaluateExpression(memory, state.cfaExpression, registers, 0, cfa)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: failed to compute CFA expression\n");
            return BBXDwarfStep::failed;
        }
    } else {
        cfa = registerValue(registers, state.cfaRegister) + static_cast<std::uint64_t>(state.cfaOffset);
    }

    if (state.registers[returnColumn].kind == BBXDwarfRuleKind::undefined)
        return BBXDwarfStep::endOfStack;

    BBXDwarfRegisters caller = registers;
    for (std::uint64_t number = 0; number < BBXDwarfRegisterCount; ++number) {
        std::uint64_t value = 0;
        if (BBXDwarfGetSavedRegister(memory, number, state.registers[number], cfa, registers, value))
            caller.value[number] = value;
    }
    if (returnColumn != BBXDwarfRegisterRIP)
        caller.value[BBXDwarfRegisterRIP] = caller.value[returnColumn];
    caller.value[BBXDwarfRegisterRSP] = cfa;
    if (caller.value[BBXDwarfRegisterRSP] == registers.value[BBXDwarfRegisterRSP]) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Stack pointer hasn't changed\n");
        return BBXDwarfStep::failed;
    }
    if (caller.value[BBXDwarfRegisterRIP] == registers.value[BBXDwarfRegisterRIP]) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: PC hasn't changed\n");
        return BBXDwarfStep::failed;
    }
    registers = caller;
    return BBXDwarfStep::unwound;
}

BBXDwarfStep BBXDwarfUnwindComputeRegisters(const BBXMemoryReader& memory, const BBXDwarfFDE& fde, std::uint64_t pc,
                                            BBXDwarfRegisters& registers)
{
    BBXDwarfFrameRules rules;
    if (!BBXDwarfUnwindComputeRules(memory, fde, pc, rules))
        return BBXDwarfStep::failed;
    return BBXDwarfUnwindAssignRegisters(memory, rules, registers);
}

} // namespace kits
