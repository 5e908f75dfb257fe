// A log is small (rotated past a few kilobytes), so it is read whole and written in one gzip call.

#include "kits/analytics/tly_compress_log_operation.h"

#include "kits/analytics/tly_logger.h"

#include <fstream>
#include <iterator>
#include <limits>
#include <zlib.h>

namespace kits {

TLYCompressLogOperation::TLYCompressLogOperation(std::filesystem::path uncompressedLogURL,
                                                 std::filesystem::path compressedLogURL)
    : uncompressedLogURL_(std::move(uncompressedLogURL)), compressedLogURL_(std::move(compressedLogURL))
{}

std::filesystem::path
TLYCompressLogOperation::compressedURLForUncompressedURL(const std::filesystem::path& uncompressedLogURL)
{
    return std::filesystem::path(uncompressedLogURL).replace_extension("gz");
}

void TLYCompressLogOperation::main()
{
    std::error_code error;
    if (!std::filesystem::exists(uncompressedLogURL_, error)
        || std::filesystem::is_directory(uncompressedLogURL_, error)) {
        TLYLogger::sharedLogger().log("Error: attempting to compress nonexistent file: "
                                      + uncompressedLogURL_.string());
        return;
    }
    if (std::filesystem::exists(compressedLogURL_, error))
        return;

    std::ifstream log(uncompressedLogURL_, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
    bool complete = !log.bad() && bytes.size() <= std::numeric_limits<unsigned>::max();
    gzFile compressed = gzopen(compressedLogURL_.c_str(), "w");
    if (!compressed) {
        TLYLogger::sharedLogger().log("Failed to compress file at " + uncompressedLogURL_.string());
        return;
    }
    if (complete) {
        const int written = gzwrite(compressed, bytes.data(), static_cast<unsigned>(bytes.size()));
        complete = written >= 0 && static_cast<std::size_t>(written) == bytes.size();
    }
    // gzclose flushes what gzwrite buffered: a failure there also leaves a file missing its end.
    const bool closed = gzclose(compressed) == Z_OK;
    if (!complete || !closed) {
        TLYLogger::sharedLogger().log("Failed to compress file at " + uncompressedLogURL_.string());
        std::filesystem::remove(compressedLogURL_, error);
    }
}

} // namespace kits
