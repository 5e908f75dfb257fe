// The package of a report directory, written with the multipart encoder onto a file.

#include "kits/crash/bbx_package_report_operation.h"

#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"
#include "kits/platform/kst_output_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <zlib.h>

namespace kits {

namespace fs = std::filesystem;

namespace {

// gzwrite until every byte is written; a step that writes nothing fails the write.
bool writeBytesToGZFile(const std::uint8_t* bytes, std::size_t length, gzFile file)
{
    while (length > 0) {
        const auto step = static_cast<unsigned>(std::min<std::size_t>(length, INT_MAX));
        errno = 0;
        const int written = ::gzwrite(file, bytes, step);
        if (written <= 0) {
            int number = 0;
            const char* text = ::gzerror(file, &number);
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: failed to write compressed bytes %d, %s, %s \n", number,
                    text, std::strerror(errno));
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> readBytes(const std::string& path)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad())
        return std::nullopt;
    return bytes;
}

} // namespace

BBXPackageReportOperation::BBXPackageReportOperation(std::shared_ptr<BBXInternalReport> report,
                                                     std::shared_ptr<BBXFileManager> fileManager)
    : report_(std::move(report)), fileManager_(std::move(fileManager))
{}

std::string BBXPackageReportOperation::reportPath() const
{
    return report_ ? report_->path() : std::string();
}

std::string BBXPackageReportOperation::destinationDirectory() const
{
    return fileManager_ ? fileManager_->preparedPath() : std::string();
}

std::string BBXPackageReportOperation::packagedPathWithName(const std::string& name) const
{
    return (fs::path(destinationDirectory()) / (name + ".multipartmime")).string();
}

bool BBXPackageReportOperation::compressDataToPath(const std::vector<std::uint8_t>& data, const std::string& path)
{
    gzFile file = ::gzopen(path.c_str(), "w");
    if (!file) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: unable to open file for compression %s\n",
                std::strerror(errno));
        return false;
    }
    bool result = !data.empty();
    if (result)
        result = writeBytesToGZFile(data.data(), data.size(), file);
    // A stream that cannot be finished (the disk filled up) is no usable copy either.
    if (::gzclose(file) != Z_OK)
        result = false;
    return result;
}

void BBXPackageReportOperation::encode(KSTMultipartMimeStreamEncoder& encoder, const std::vector<std::uint8_t>& data,
                                       const std::string& path)
{
    if (path.empty()) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: path is invalid\n");
        return;
    }
    const std::string compressedPath = path + ".gz";
    const std::string fileName = fs::path(compressedPath).filename().string();
    const std::string fieldName = fs::path(path).filename().string();
    if (compressDataToPath(data, compressedPath)) {
        encoder.addFile(compressedPath, fileName, std::string("application/x-gzip"), fieldName);
        return;
    }
    BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: compression failed for %s\n", fileName.c_str());
    encoder.addFileData(data, fileName, std::string("text/plain"), fieldName);
}

void BBXPackageReportOperation::main()
{
    finalPath_.reset();
    if (!report_ || !fileManager_)
        return;
    const std::string boundary = KSTMultipartMimeStreamEncoder::generateBoundary();
    const std::string packagePath = packagedPathWithName(boundary);
    // Written under a hidden name (never listed) and renamed once whole.
    const std::string partialPath = (fs::path(destinationDirectory()) / ("." + boundary + ".multipartmime")).string();
    const auto identifier = report_->identifier();
    const auto apiKey = report_->APIKey();

    auto stream = std::make_shared<KSTFileOutputStream>(partialPath);
    auto encoder = KSTMultipartMimeStreamEncoder::encoderWithStream(stream, boundary);
    if (!encoder)
        return;
    encoder->encode([&](KSTMultipartMimeStreamEncoder& parts) {
        if (apiKey)
            parts.addValue(foundation::PropertyListValue(*apiKey), "api_key");
        if (!identifier.empty())
            parts.addValue(foundation::PropertyListValue(identifier), "report_id");
        fileManager_->enumerateFilesInDirectory(
            reportPath(), [&](const std::string& path, const std::string& extension) {
                if (isCancelled() || extension == "gz")
                    return;
                const auto data = readBytes(path);
                if (!data || data->empty()) {
                    BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: unable to read data for compression: %s\n",
                            fs::path(path).filename().c_str());
                    return;
                }
                encode(parts, *data, path);
            });
    });
    std::error_code ignored;
    // A package that lacks parts (the disk filled up) is not sent either.
    if (isCancelled() || !encoder->allWritesSucceeded()) {
        fs::remove(partialPath, ignored);
        return;
    }
    std::error_code error;
    fs::rename(partialPath, packagePath, error);
    if (error) {
        fs::remove(partialPath, ignored);
        return;
    }
    finalPath_ = packagePath;
}

} // namespace kits
