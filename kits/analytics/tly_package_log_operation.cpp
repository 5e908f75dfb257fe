// Packaging through the multipart encoder onto a file stream; the encoder tells whether every byte
// went in, and only a complete body is renamed into place.

#include "kits/analytics/tly_package_log_operation.h"

#include "kits/analytics/tly_logger.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"
#include "kits/platform/kst_output_stream.h"

#include <cstdio>

namespace kits {

TLYPackageLogOperation::TLYPackageLogOperation(std::filesystem::path compressedLogURL,
                                               std::filesystem::path packagedLogURL, std::string multipartMimeBoundary)
    : compressedLogURL_(std::move(compressedLogURL)), packagedLogURL_(std::move(packagedLogURL)),
      multipartMimeBoundary_(std::move(multipartMimeBoundary))
{}

std::filesystem::path
TLYPackageLogOperation::multipartURLForCompressedURL(const std::filesystem::path& compressedLogURL,
                                                     const std::string& boundary)
{
    return compressedLogURL.parent_path() / (boundary + ".multipartmime");
}

std::filesystem::path TLYPackageLogOperation::partialURLForPackagedURL(const std::filesystem::path& packagedLogURL)
{
    std::filesystem::path partial = packagedLogURL;
    partial += ".partial";
    return partial;
}

void TLYPackageLogOperation::main()
{
    std::error_code error;
    if (!std::filesystem::exists(compressedLogURL_, error) || std::filesystem::is_directory(compressedLogURL_, error)) {
        TLYLogger::sharedLogger().log("Error: attempting to package nonexistent file: " + compressedLogURL_.string());
        return;
    }
    const std::filesystem::path partial = partialURLForPackagedURL(packagedLogURL_);
    auto stream = std::make_shared<KSTFileOutputStream>(partial);
    auto encoder = KSTMultipartMimeStreamEncoder::encoderWithStream(stream, multipartMimeBoundary_);
    if (!encoder)
        return;
    encoder->encode([this](KSTMultipartMimeStreamEncoder& body) {
        const std::string name = compressedLogURL_.filename().string();
        std::error_code exists;
        if (!compressedLogURL_.empty() && std::filesystem::exists(compressedLogURL_, exists))
            body.addFile(compressedLogURL_, name, std::string(contentType), name);
        else
            TLYLogger::sharedLogger().log("Error packaging: " + compressedLogURL_.string() + " is an invalid path.");
    });
    if (!encoder->allWritesSucceeded() || std::rename(partial.c_str(), packagedLogURL_.c_str()) != 0) {
        TLYLogger::sharedLogger().log("Failed to package file at " + compressedLogURL_.string());
        std::filesystem::remove(partial, error);
    }
}

} // namespace kits
