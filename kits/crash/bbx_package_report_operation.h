// Packaging of one processed report directory: one multipart form file in "prepared", named by its
// boundary ("<boundary>.multipartmime"), holding the API key, the report identifier and every
// non-empty file of the directory gzip-compressed. The file is written under a hidden name and gets
// its own name only when complete, so a package found later is always whole.
#pragma once

#include "foundation/operation_queue.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class BBXFileManager;
class BBXInternalReport;
class KSTMultipartMimeStreamEncoder;

class BBXPackageReportOperation final : public foundation::Operation {
public:
    BBXPackageReportOperation(std::shared_ptr<BBXInternalReport> report, std::shared_ptr<BBXFileManager> fileManager);

    const std::shared_ptr<BBXInternalReport>& report() const { return report_; }
    const std::shared_ptr<BBXFileManager>& fileManager() const { return fileManager_; }
    std::string reportPath() const;
    // The prepared directory.
    std::string destinationDirectory() const;
    // destination / "<name>.multipartmime".
    std::string packagedPathWithName(const std::string& name) const;
    // The package once packaging succeeded; none before, after a failure and after a cancelled run.
    const std::optional<std::string>& finalPath() const { return finalPath_; }

    // Writes the bytes as a gzip file; false (and no usable file) when it cannot be opened or written,
    // or for empty data.
    static bool compressDataToPath(const std::vector<std::uint8_t>& data, const std::string& path);
    // Adds one file part: its gzip copy ("<path>.gz", application/x-gzip), else the bytes as text/plain.
    static void encode(KSTMultipartMimeStreamEncoder& encoder, const std::vector<std::uint8_t>& data,
                       const std::string& path);
    void main() override;

private:
    std::shared_ptr<BBXInternalReport> report_;
    std::shared_ptr<BBXFileManager> fileManager_;
    std::optional<std::string> finalPath_;
};

} // namespace kits
