// Compresses a finished event log into a gzip file beside it ("<UUID>.gz"). An existing gz file is
// kept as it is (it will be packaged unchanged); a gz file that could not be written whole is removed.
#pragma once

#include "foundation/operation_queue.h"

#include <filesystem>

namespace kits {

class TLYCompressLogOperation final : public foundation::Operation {
public:
    TLYCompressLogOperation(std::filesystem::path uncompressedLogURL, std::filesystem::path compressedLogURL);

    // The log's path with the extension "gz".
    static std::filesystem::path compressedURLForUncompressedURL(const std::filesystem::path& uncompressedLogURL);

    void main() override;

    const std::filesystem::path& uncompressedLogURL() const { return uncompressedLogURL_; }
    const std::filesystem::path& compressedLogURL() const { return compressedLogURL_; }

private:
    std::filesystem::path uncompressedLogURL_;
    std::filesystem::path compressedLogURL_;
};

} // namespace kits
