// The steps that turn a crash file's thread array into its symbolicated file: name every frame
// through the resolver, demangle the names, and write them as one record line beside the crash file.
// The three share one thread array and are run one after the other by calling start().
#pragma once

#include "foundation/operation_queue.h"
#include "kits/crash/bbx_stack_frame.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class BBXSymbolResolver;

class BBXThreadArrayOperation : public foundation::Operation {
public:
    explicit BBXThreadArrayOperation(std::shared_ptr<BBXThreadArray> threadArray);

    const std::shared_ptr<BBXThreadArray>& threadArray() const { return threadArray_; }
    // Threads in order, frames in order; ends after the frame at which the operation is cancelled.
    void enumerateFramesWithBlock(const std::function<void(BBXStackFrame& frame)>& block);
    // The same with the frame's index in its thread.
    void enumerateFramesWithIndexBlock(const std::function<void(BBXStackFrame& frame, std::size_t index)>& block);

private:
    std::shared_ptr<BBXThreadArray> threadArray_;
};

class BBXSymbolicationOperation final : public BBXThreadArrayOperation {
public:
    BBXSymbolicationOperation(std::shared_ptr<BBXThreadArray> threadArray, std::shared_ptr<BBXSymbolResolver> resolver);
    const std::shared_ptr<BBXSymbolResolver>& symbolResolver() const { return symbolResolver_; }
    // Each thread's first frame is its own program counter and is looked up as recorded.
    void main() override;

private:
    std::shared_ptr<BBXSymbolResolver> symbolResolver_;
};

class BBXDemangleOperation final : public BBXThreadArrayOperation {
public:
    using Demangler = std::function<std::optional<std::string>(const std::string& name)>;

    using BBXThreadArrayOperation::BBXThreadArrayOperation;

    // "_Z..." by the C++ demangler; "__Z..._block_invoke..." as its C++ part followed by the rest;
    // "_T..." only through the registered demangler; anything else, or a failure, gives none.
    static std::optional<std::string> demangleSymbol(const char* symbol);
    static std::optional<std::string> demangleCppSymbol(const char* symbol);
    static std::optional<std::string> demangleBlockInvokeCppSymbol(const char* symbol);
    static std::optional<std::string> demangleSwiftSymbol(const char* symbol);
    // The demangler of "_T" names; none is registered unless a host registers one (empty: none).
    static void registerDemangler(Demangler demangler);

    // Replaces each frame's symbol by the demangled raw symbol when there is one.
    void main() override;
};

class BBXSerializeSymbolicatedFramesOperation final : public BBXThreadArrayOperation {
public:
    BBXSerializeSymbolicatedFramesOperation(std::shared_ptr<BBXThreadArray> threadArray, std::string outputPath);
    const std::string& outputPath() const { return outputPath_; }
    // Writes {"threads":[[{"symbol","raw_symbol" (when it differs),"offset","library"},...],...]}.
    void main() override;

private:
    std::string outputPath_;
};

} // namespace kits
