// The operation that sends one packaged event file: it builds the POST of the file to the events
// endpoint with the kit's client headers and hands it to the uploader; the outcome reaches the
// uploader's delegate later. Without an endpoint it sends nothing and the file stays.
#pragma once

#include "foundation/operation_queue.h"
#include "net/url_request.h"

#include <memory>
#include <optional>
#include <string>

namespace kits {

class TLYUploader;

// The kit developer token sent with every upload.
inline constexpr const char* TLYDeveloperToken = "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f";

class TLYUploadOperation final : public foundation::Operation {
public:
    TLYUploadOperation(std::shared_ptr<TLYUploader> uploader, std::optional<std::string> tallyURL,
                       std::optional<std::string> apiKey, std::string multipartURL, std::string multipartMimeBoundary);

    const std::shared_ptr<TLYUploader>& uploader() const { return uploader_; }
    const std::optional<std::string>& tallyURL() const { return tallyURL_; }
    const std::optional<std::string>& apiKey() const { return apiKey_; }
    const std::string& multipartURL() const { return multipartURL_; }
    const std::string& multipartMimeBoundary() const { return multipartMimeBoundary_; }

    void main() override;
    // The POST of the packaged file (its bytes go as the body when the task runs); nothing without an
    // endpoint.
    std::optional<net::URLRequest> uploadRequest() const;
    // The file's name without its extension: its boundary.
    std::string uniqueName() const;
    // Seconds since 1970, whole, in decimal.
    static std::string currentTimestampString();

private:
    const std::shared_ptr<TLYUploader> uploader_;
    const std::optional<std::string> tallyURL_;
    const std::optional<std::string> apiKey_;
    const std::string multipartURL_;
    const std::string multipartMimeBoundary_;
};

} // namespace kits
