// Processing of one report directory at the next launch: each crash file's first record of threads
// is symbolicated through the launch's image log and written beside it as "<file>.symbolicated".
// A file without threads, or frames that cannot be named, stop nothing else.
#pragma once

#include "foundation/operation_queue.h"
#include "kits/crash/bbx_stack_frame.h"

#include <memory>
#include <optional>
#include <string>

namespace kits {

class BBXInternalReport;
class BBXSymbolResolver;

class BBXProcessReportOperation final : public foundation::Operation {
public:
    BBXProcessReportOperation(std::shared_ptr<BBXInternalReport> report, std::shared_ptr<BBXSymbolResolver> resolver);

    const std::shared_ptr<BBXInternalReport>& report() const { return report_; }
    const std::shared_ptr<BBXSymbolResolver>& symbolResolver() const { return symbolResolver_; }
    std::string binaryImagePath() const;

    // The frames of the first "threads" line of the file, one array per thread of the numbers of
    // its "stacktrace"; none when the file has no such line.
    static std::optional<BBXThreadArray> threadArrayFromFile(const std::string& path);
    // Symbolicates, demangles and writes "<path>.symbolicated"; false when the file has no threads.
    bool symbolicateFile(const std::string& path, const std::shared_ptr<BBXSymbolResolver>& resolver);
    void main() override;

private:
    std::shared_ptr<BBXInternalReport> report_;
    std::shared_ptr<BBXSymbolResolver> symbolResolver_;
};

} // namespace kits
