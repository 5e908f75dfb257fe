// Processing of a report directory's crash files.

#include "kits/crash/bbx_process_report_operation.h"

#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_symbol_resolver.h"
#include "kits/crash/bbx_thread_array_operation.h"
#include "kits/crash/capture/bbx_file.h"

namespace kits {

BBXProcessReportOperation::BBXProcessReportOperation(std::shared_ptr<BBXInternalReport> report,
                                                     std::shared_ptr<BBXSymbolResolver> resolver)
    : report_(std::move(report)), symbolResolver_(std::move(resolver))
{}

std::string BBXProcessReportOperation::binaryImagePath() const
{
    return report_ ? report_->binaryImagePath() : std::string();
}

std::optional<BBXThreadArray> BBXProcessReportOperation::threadArrayFromFile(const std::string& path)
{
    // Only the first line with threads is wanted: later lines are dropped unread.
    bool found = false;
    const auto lines =
        BBXFileReadSections(path.c_str(), false, [&found](nlohmann::json line) -> std::optional<nlohmann::json> {
            if (found)
                return std::nullopt;
            auto threads = line.find("threads");
            if (threads == line.end())
                return std::nullopt;
            found = true;
            return std::move(*threads);
        });
    if (!lines || lines->empty())
        return std::nullopt;
    const nlohmann::json& threads = lines->front();
    BBXThreadArray array;
    if (!threads.is_array())
        return array;
    for (const auto& thread : threads) {
        std::vector<BBXStackFrame> frames;
        const auto stacktrace = thread.is_object() ? thread.find("stacktrace") : thread.end();
        if (thread.is_object() && stacktrace != thread.end() && stacktrace->is_array()) {
            for (const auto& address : *stacktrace) {
                // A value that is no unsigned number keeps its place as a frame without an address.
                frames.push_back(BBXStackFrame::stackFrameWithAddress(
                    address.is_number_unsigned() ? address.get<std::uint64_t>() : 0));
            }
            // The positions of the frames found by scanning the stack; others (or none) are ignored.
            const auto scanned = thread.find("scanned_frames");
            for (const auto& position : scanned != thread.end() && scanned->is_array() ? *scanned : nlohmann::json()) {
                if (position.is_number_unsigned() && position.get<std::uint64_t>() < frames.size())
                    frames[position.get<std::uint64_t>()].scanned = true;
            }
        }
        array.push_back(std::move(frames));
    }
    return array;
}

bool BBXProcessReportOperation::symbolicateFile(const std::string& path,
                                                const std::shared_ptr<BBXSymbolResolver>& resolver)
{
    auto threads = threadArrayFromFile(path);
    if (!threads)
        return false;
    auto shared = std::make_shared<BBXThreadArray>(std::move(*threads));
    // Operations end through their shared owner (a queue may hold them), so they live on the heap.
    std::make_shared<BBXSymbolicationOperation>(shared, resolver)->start();
    std::make_shared<BBXDemangleOperation>(shared)->start();
    std::make_shared<BBXSerializeSymbolicatedFramesOperation>(shared, path + ".symbolicated")->start();
    return true;
}

void BBXProcessReportOperation::main()
{
    if (!report_ || !symbolResolver_ || !symbolResolver_->loadBinaryImagesFromFile(binaryImagePath()))
        return;
    report_->enumerateSymbolicatableFilesInContent(
        [this](const std::string& path) { symbolicateFile(path, symbolResolver_); });
}

} // namespace kits
