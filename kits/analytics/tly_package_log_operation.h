// Wraps a compressed event log into a multipart request body file "<boundary>.multipartmime" with one
// file part. The body is written under another name and renamed once complete, so no truncated
// package is ever found (a leftover partial file is removed by the next clean-up).
#pragma once

#include "foundation/operation_queue.h"

#include <filesystem>
#include <string>

namespace kits {

class TLYPackageLogOperation final : public foundation::Operation {
public:
    static constexpr const char* contentType = "application/vnd.blackbox.mac.events";

    TLYPackageLogOperation(std::filesystem::path compressedLogURL, std::filesystem::path packagedLogURL,
                           std::string multipartMimeBoundary);

    // "<directory of the compressed log>/<boundary>.multipartmime".
    static std::filesystem::path multipartURLForCompressedURL(const std::filesystem::path& compressedLogURL,
                                                              const std::string& boundary);
    // Where the body is written before it is renamed: the package's path with ".partial" added.
    static std::filesystem::path partialURLForPackagedURL(const std::filesystem::path& packagedLogURL);

    void main() override;

    const std::filesystem::path& compressedLogURL() const { return compressedLogURL_; }
    const std::filesystem::path& packagedLogURL() const { return packagedLogURL_; }
    const std::string& multipartMimeBoundary() const { return multipartMimeBoundary_; }

private:
    std::filesystem::path compressedLogURL_;
    std::filesystem::path packagedLogURL_;
    std::string multipartMimeBoundary_;
};

} // namespace kits
