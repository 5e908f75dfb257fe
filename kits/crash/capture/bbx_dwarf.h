// DWARF call-frame information for the x86-64 unwinder: pointer encodings, CIE and FDE records, the
// CFA rule machine (every call-frame instruction DWARF defines), the expression machine and the
// register step. Crash-time code: no heap, no locks, all state on the caller's stack, and every byte
// of an image or a stack read through a memory reader that fails instead of faulting.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kits {

// Copies `size` bytes at `address`; false when that memory cannot be read.
struct BBXMemoryReader {
    bool (*read)(const void* context, std::uint64_t address, void* destination, std::size_t size) = nullptr;
    const void* context = nullptr;

    bool get(std::uint64_t address, void* destination, std::size_t size) const
    {
        return read && read(context, address, destination, size);
    }
};

// Bytes [position, end) of memory, read through a small window so that parsing costs few reads. The
// memory reader must outlive the stream.
class BBXDwarfStream {
public:
    BBXDwarfStream(const BBXMemoryReader& memory, std::uint64_t position, std::uint64_t end)
        : memory_(memory), position_(position), end_(end)
    {}

    const BBXMemoryReader& memory() const { return memory_; }
    std::uint64_t position() const { return position_; }
    std::uint64_t end() const { return end_; }
    bool atEnd() const { return position_ >= end_; }

    bool u8(std::uint8_t& value);
    bool u16(std::uint16_t& value);
    bool u32(std::uint32_t& value);
    bool u64(std::uint64_t& value);
    // LEB128 of at most 10 bytes (64 bits).
    bool uleb(std::uint64_t& value);
    bool sleb(std::int64_t& value);
    bool skip(std::uint64_t count);

private:
    bool bytes(void* destination, std::size_t count);

    static constexpr std::size_t windowSize = 256;
    const BBXMemoryReader& memory_;
    std::uint64_t position_;
    std::uint64_t end_;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
    std::uint8_t window_[windowSize];
};

// DW_EH_PE pointer encodings.
constexpr std::uint8_t BBXDwarfEncodingOmit = 0xff;

// Reads a pointer of `encoding` at the stream's position: formats absptr, uleb128, udata2/4/8,
// sleb128, sdata2/4/8; applications none, pc-relative and data-relative (to `dataBase`); the
// indirect bit dereferences. Omit gives 0. False for any other encoding or a failed read.
bool BBXParseAddressWithEncodingAndAdvance(BBXDwarfStream& stream, std::uint8_t encoding, std::uint64_t dataBase,
                                           std::uint64_t& address);

struct BBXDwarfCIE {
    std::uint64_t address = 0;
    std::uint8_t version = 0;
    char augmentation[8] = {};
    std::uint64_t codeAlignment = 0;
    std::int64_t dataAlignment = 0;
    std::uint64_t returnAddressRegister = 0;
    std::uint8_t lsdaEncoding = BBXDwarfEncodingOmit;
    std::uint8_t personalityEncoding = BBXDwarfEncodingOmit;
    std::uint64_t personality = 0;
    std::uint8_t fdeEncoding = 0; // absptr
    bool signalFrame = false;
    bool hasAugmentationData = false;
    std::uint64_t instructionsStart = 0;
    std::uint64_t instructionsEnd = 0;
};

struct BBXDwarfFDE {
    std::uint64_t address = 0;
    BBXDwarfCIE cie;
    std::uint64_t pcStart = 0;
    std::uint64_t pcRange = 0;
    std::uint64_t instructionsStart = 0;
    std::uint64_t instructionsEnd = 0;
};

// A CIE at `address`: versions 1 and 3; an augmentation string that is empty or starts with "z"
// (with "L", "P", "R", "S").
bool BBXDwarfParseCIERecord(const BBXMemoryReader& memory, std::uint64_t address, BBXDwarfCIE& cie);
// An FDE at `address` with its CIE.
bool BBXDwarfParseFDERecord(const BBXMemoryReader& memory, std::uint64_t address, BBXDwarfFDE& fde);

// DWARF numbers of the x86-64 registers: 0 rax, 1 rdx, 2 rcx, 3 rbx, 4 rsi, 5 rdi, 6 rbp, 7 rsp,
// 8-15 r8-r15, 16 the return address (rip).
constexpr std::uint64_t BBXDwarfRegisterCount = 17;
constexpr std::uint64_t BBXDwarfRegisterRSP = 7;
constexpr std::uint64_t BBXDwarfRegisterRBP = 6;
constexpr std::uint64_t BBXDwarfRegisterRIP = 16;

struct BBXDwarfRegisters {
    std::uint64_t value[BBXDwarfRegisterCount] = {};
};

enum class BBXDwarfRuleKind : std::uint8_t {
    none,            // unchanged from the frame below
    offset,          // saved at CFA + operand
    valueOffset,     // the value is CFA + operand
    inRegister,      // the value of register operand
    expression,      // saved at the address the expression at `operand` computes
    valueExpression, // the expression's result
    undefined,       // not recoverable (for the return address: the end of the stack)
    sameValue,
};

struct BBXDwarfRule {
    BBXDwarfRuleKind kind = BBXDwarfRuleKind::none;
    std::int64_t operand = 0; // offset, register number, or the address of the expression block
};

struct BBXDwarfRuleState {
    std::uint64_t cfaRegister = 0;
    std::int64_t cfaOffset = 0;
    std::uint64_t cfaExpression = 0; // address of the block (its ULEB128 length); 0 when none
    BBXDwarfRule registers[BBXDwarfRegisterCount];
};

// The rules while instructions run: the current state, the state after the CIE's instructions (for
// DW_CFA_restore) and the remember_state stack.
struct BBXDwarfRuleMachine {
    static constexpr int rememberDepth = 8;
    BBXDwarfRuleState state;
    BBXDwarfRuleState initial;
    BBXDwarfRuleState remembered[rememberDepth];
    int depth = 0;
};

// Runs the call-frame instructions in [start, end), starting at code location `location`, as long as
// the location is at or below `pc`. False on a malformed or unknown instruction.
bool BBXDwarfInstructionsEnumerate(const BBXMemoryReader& memory, std::uint64_t start, std::uint64_t end,
                                   const BBXDwarfCIE& cie, std::uint64_t location, std::uint64_t pc,
                                   BBXDwarfRuleMachine& machine);

// The expression machine: a stack of 100 values, the expression's opcodes and the registers they
// read. A push onto a full stack or a pop from an empty one makes the stack invalid and empties it
// (the pop gives 0).
class BBXDwarfExpressionMachine {
public:
    static constexpr int capacity = 100;

    // The opcodes in [start, end); `memory` and `registers` must outlive the machine.
    BBXDwarfExpressionMachine(const BBXMemoryReader& memory, std::uint64_t start, std::uint64_t end,
                              const BBXDwarfRegisters& registers)
        : code_(memory, start, end), registers_(registers)
    {}
    BBXDwarfExpressionMachine(const BBXDwarfExpressionMachine&) = delete;
    BBXDwarfExpressionMachine& operator=(const BBXDwarfExpressionMachine&) = delete;

    void push(std::uint64_t value);
    std::uint64_t pop();
    // The entry `depth` below the top (0: the top).
    std::uint64_t pick(std::uint64_t depth);
    bool valid() const { return valid_; }
    bool empty() const { return top_ == 0; }
    bool atEnd() const { return code_.atEnd(); }
    BBXDwarfStream& code() { return code_; }
    const BBXDwarfRegisters& registers() const { return registers_; }

private:
    void invalidate();

    BBXDwarfStream code_;
    const BBXDwarfRegisters& registers_;
    std::uint64_t values_[capacity];
    int top_ = 0;
    bool valid_ = true;
};

// Runs the opcode at the machine's position; false when it is unknown, malformed or a read fails. A
// stack made invalid shows in valid().
bool BBXDwarfExpressionMachineExecuteNextOpcode(BBXDwarfExpressionMachine& machine);

// Evaluates the block at `block` (ULEB128 length, then opcodes) with `initial` on the stack; false
// when the block is empty, malformed, uses an unknown opcode, leaves the stack invalid or no result.
bool BBXDwarfEvaluateExpression(const BBXMemoryReader& memory, std::uint64_t block, const BBXDwarfRegisters& registers,
                                std::uint64_t initial, std::uint64_t& result);

enum class BBXDwarfStep {
    failed,
    unwound,    // `registers` now hold the caller's frame
    endOfStack, // the return address is undefined: this was the outermost frame
};

// Register `number`'s value in the caller by its rule, for the CFA `cfa` and the callee's
// `registers`: the word at CFA + offset, another register, the word at an expression's result, the
// result itself, or CFA + offset. A value that cannot be obtained is 0. False for the rules that
// leave the register as it is (none, same value, undefined).
bool BBXDwarfGetSavedRegister(const BBXMemoryReader& memory, std::uint64_t number, const BBXDwarfRule& rule,
                              std::uint64_t cfa, const BBXDwarfRegisters& registers, std::uint64_t& value);

// The rules of one frame: the state after the CIE's instructions and the FDE's up to the PC, and the
// column that holds the return address. They depend only on the image, so a walk may keep them for
// a PC it meets again.
struct BBXDwarfFrameRules {
    BBXDwarfRuleState state;
    std::uint64_t returnColumn = BBXDwarfRegisterRIP;
};

// Runs the CIE's instructions, then the FDE's up to `pc`. False when either fails or pc lies before
// the FDE.
bool BBXDwarfUnwindComputeRules(const BBXMemoryReader& memory, const BBXDwarfFDE& fde, std::uint64_t pc,
                                BBXDwarfFrameRules& rules);
// The CFA from the rules, then registers 0 to 16 from their rules and rsp = CFA. Fails when rsp and
// rip come out unchanged; an undefined return address is the end of the stack.
BBXDwarfStep BBXDwarfUnwindAssignRegisters(const BBXMemoryReader& memory, const BBXDwarfFrameRules& rules,
                                           BBXDwarfRegisters& registers);

// One step through the FDE that covers `pc` (the caller's lookup address, already inside the calling
// instruction): the rules, then the registers.
BBXDwarfStep BBXDwarfUnwindComputeRegisters(const BBXMemoryReader& memory, const BBXDwarfFDE& fde, std::uint64_t pc,
                                            BBXDwarfRegisters& registers);

} // namespace kits
