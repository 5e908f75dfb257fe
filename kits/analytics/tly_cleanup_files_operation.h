// Tidies the events directory an earlier run left: logs stay (to be compressed), a gz beside its log
// goes (the log is compressed again), packages beyond the limit go oldest first, and anything else
// (other extensions, partial packages, directories) goes. The success block learns what remains.
#pragma once

#include "foundation/operation_queue.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>

namespace kits {

class TLYCleanupFilesOperation final : public foundation::Operation {
public:
    using Files = std::set<std::filesystem::path>;
    // The logs, the remaining gz files and the kept packages.
    using SuccessBlock = std::function<void(const Files& logs, const Files& compressed, const Files& packaged)>;

    TLYCleanupFilesOperation(std::filesystem::path directoryUrl, std::int64_t maximumPendingMultipartFiles);

    void setSuccessBlock(SuccessBlock block) { successBlock_ = std::move(block); }
    void main() override;

    // Keeps the `maximumFileCount` newest files (by creation date; an unreadable date counts as the
    // distant past) and deletes the rest; returns what was kept.
    static Files URLsByRemovingOldFiles(const Files& files, std::int64_t maximumFileCount);

    const std::filesystem::path& directoryUrl() const { return directoryUrl_; }
    std::int64_t maximumPendingMultipartFiles() const { return maximumPendingMultipartFiles_; }

private:
    const std::filesystem::path directoryUrl_;
    const std::int64_t maximumPendingMultipartFiles_;
    SuccessBlock successBlock_;
};

} // namespace kits
