// Symbolication, demangling and writing of a thread array.

#include "kits/crash/bbx_thread_array_operation.h"

#include "kits/crash/bbx_symbol_resolver.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/platform/kit_log.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <mutex>

namespace kits {

namespace {

std::mutex demanglerLock;
BBXDemangleOperation::Demangler& registeredDemangler()
{
    // Never destroyed: a processing thread may still demangle while the process exits.
    static auto* demangler = new BBXDemangleOperation::Demangler();
    return *demangler;
}

} // namespace

BBXThreadArrayOperation::BBXThreadArrayOperation(std::shared_ptr<BBXThreadArray> threadArray)
    : threadArray_(threadArray ? std::move(threadArray) : std::make_shared<BBXThreadArray>())
{}

void BBXThreadArrayOperation::enumerateFramesWithBlock(const std::function<void(BBXStackFrame& frame)>& block)
{
    enumerateFramesWithIndexBlock([&block](BBXStackFrame& frame, std::size_t) { block(frame); });
}

void BBXThreadArrayOperation::enumerateFramesWithIndexBlock(
    const std::function<void(BBXStackFrame& frame, std::size_t index)>& block)
{
    for (auto& thread : *threadArray_) {
        for (std::size_t index = 0; index < thread.size(); ++index) {
            block(thread[index], index);
            if (isCancelled())
                return;
        }
    }
}

BBXSymbolicationOperation::BBXSymbolicationOperation(std::shared_ptr<BBXThreadArray> threadArray,
                                                     std::shared_ptr<BBXSymbolResolver> resolver)
    : BBXThreadArrayOperation(std::move(threadArray)), symbolResolver_(std::move(resolver))
{}

void BBXSymbolicationOperation::main()
{
    if (!symbolResolver_)
        return;
    enumerateFramesWithIndexBlock(
        [this](BBXStackFrame& frame, std::size_t index) { symbolResolver_->updateStackFrame(frame, index == 0); });
}

std::optional<std::string> BBXDemangleOperation::demangleCppSymbol(const char* symbol)
{
    if (!symbol)
        return std::nullopt;
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
    if (!demangled)
        return std::nullopt;
    std::string result = status == 0 ? std::string(demangled) : std::string();
    std::free(demangled);
    if (status != 0)
        return std::nullopt;
    return result;
}

std::optional<std::string> BBXDemangleOperation::demangleBlockInvokeCppSymbol(const char* symbol)
{
    if (!symbol)
        return std::nullopt;
    const std::string name(symbol);
    const auto position = name.rfind("_block_invoke");
    if (position == std::string::npos || position < 5)
        return std::nullopt;
    const std::string inner = name.substr(1, position - 1);
    const auto demangled = demangleSymbol(inner.c_str());
    if (!demangled)
        return std::nullopt;
    return *demangled + name.substr(position);
}

std::optional<std::string> BBXDemangleOperation::demangleSwiftSymbol(const char* symbol)
{
    if (!symbol)
        return std::nullopt;
    Demangler demangler;
    {
        std::lock_guard lock(demanglerLock);
        demangler = registeredDemangler();
    }
    if (!demangler)
        return std::nullopt;
    return demangler(symbol);
}

std::optional<std::string> BBXDemangleOperation::demangleSymbol(const char* symbol)
{
    if (!symbol)
        return std::nullopt;
    if (std::strncmp(symbol, "_Z", 2) == 0)
        return demangleCppSymbol(symbol);
    if (std::strncmp(symbol, "__Z", 3) == 0)
        return demangleBlockInvokeCppSymbol(symbol);
    if (std::strncmp(symbol, "_T", 2) == 0)
        return demangleSwiftSymbol(symbol);
    return std::nullopt;
}

void BBXDemangleOperation::registerDemangler(Demangler demangler)
{
    std::lock_guard lock(demanglerLock);
    registeredDemangler() = std::move(demangler);
}

void BBXDemangleOperation::main()
{
    enumerateFramesWithBlock([](BBXStackFrame& frame) {
        if (!frame.rawSymbol)
            return;
        if (auto demangled = demangleSymbol(frame.rawSymbol->c_str()))
            frame.symbol = std::move(*demangled);
    });
}

BBXSerializeSymbolicatedFramesOperation::BBXSerializeSymbolicatedFramesOperation(
    std::shared_ptr<BBXThreadArray> threadArray, std::string outputPath)
    : BBXThreadArrayOperation(std::move(threadArray)), outputPath_(std::move(outputPath))
{}

void BBXSerializeSymbolicatedFramesOperation::main()
{
    BBXFile file;
    if (!BBXFileInitWithPathMode(&file, outputPath_.c_str(), false, true)) {
        kitLog("[Blackbox:Crash:Symbolication] Failed to create output file");
        return;
    }
    BBXFileWriteSectionStart(&file, "threads");
    BBXFileWriteArrayStart(&file);
    for (const auto& thread : *threadArray()) {
        BBXFileWriteArrayStart(&file);
        for (const auto& frame : thread) {
            BBXFileWriteHashStart(&file);
            BBXFileWriteHashEntryNSString(&file, "symbol", frame.symbol ? &*frame.symbol : nullptr);
            if (frame.rawSymbol != frame.symbol)
                BBXFileWriteHashEntryNSString(&file, "raw_symbol", frame.rawSymbol ? &*frame.rawSymbol : nullptr);
            BBXFileWriteHashEntryUint64(&file, "offset", frame.offset);
            BBXFileWriteHashEntryNSString(&file, "library", frame.library ? &*frame.library : nullptr);
            if (frame.scanned)
                BBXFileWriteHashEntryBoolean(&file, "scanned", true);
            BBXFileWriteHashEnd(&file);
        }
        BBXFileWriteArrayEnd(&file);
    }
    BBXFileWriteArrayEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXFileClose(&file);
}

} // namespace kits
