// The upload request of a packaged event file.
#include "kits/analytics/tly_upload_operation.h"

#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_uploader.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace kits {

TLYUploadOperation::TLYUploadOperation(std::shared_ptr<TLYUploader> uploader, std::optional<std::string> tallyURL,
                                       std::optional<std::string> apiKey, std::string multipartURL,
                                       std::string multipartMimeBoundary)
    : uploader_(std::move(uploader)), tallyURL_(std::move(tallyURL)), apiKey_(std::move(apiKey)),
      multipartURL_(std::move(multipartURL)), multipartMimeBoundary_(std::move(multipartMimeBoundary))
{}

std::string TLYUploadOperation::currentTimestampString()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

std::string TLYUploadOperation::uniqueName() const
{
    return std::filesystem::path(multipartURL_).stem().string();
}

std::optional<net::URLRequest> TLYUploadOperation::uploadRequest() const
{
    if (!tallyURL_ || tallyURL_->empty())
        return std::nullopt;
    net::URLRequest request(*tallyURL_);
    request.httpMethod = "POST";
    std::error_code error;
    const auto size = std::filesystem::file_size(multipartURL_, error);
    request.setValueForHTTPHeaderField(
        KSTMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(multipartMimeBoundary_), "Content-Type");
    request.setValueForHTTPHeaderField(error ? std::string("0") : std::to_string(size), "Content-Length");
    request.setValueForHTTPHeaderField("Tally Mac SDK/1.3.4", "User-Agent");
    request.setValueForHTTPHeaderField(TLYDeveloperToken, "X-BLACKBOX-DEVELOPER-TOKEN");
    request.setValueForHTTPHeaderField("Tally Mac SDK", "X-BLACKBOX-API-CLIENT-TYPE");
    request.setValueForHTTPHeaderField("26", "X-BLACKBOX-API-CLIENT-VERSION");
    request.setValueForHTTPHeaderField("1.3.4", "X-BLACKBOX-API-CLIENT-DISPLAY-VERSION");
    request.setValueForHTTPHeaderField("26", "X-BLACKBOX-API-CLIENT-BUILD-VERSION");
    request.setValueForHTTPHeaderField(apiKey_.value_or(""), "X-BLACKBOX-API-KEY");
    request.setValueForHTTPHeaderField(currentTimestampString(), "X-Blackbox-Api-Client-Packaged-Timestamp");
    return request;
}

void TLYUploadOperation::main()
{
    auto request = uploadRequest();
    const std::string name = uniqueName();
    // Without an endpoint there is nowhere to send to: the file waits for one (or the next start).
    if (!request) {
        TLYLogger::sharedLogger().log("No events endpoint: keeping '" + name + "'.");
        return;
    }
    TLYLogger::sharedLogger().log("Transmitting packaged events for '" + name + "'.");
    if (uploader_)
        uploader_->startUploadRequest(std::move(request), multipartURL_, name);
}

} // namespace kits
