// Writes a multipart/form-data body onto an output stream part by part (text fields and file parts
// between a "MIME-Version: 1.0" line and the closing boundary), counting the bytes for the
// "Content-Length" header. One caller, one thread; at most one file's bytes are held at a time.
#pragma once

#include "foundation/property_list.h"
#include "kits/platform/kst_output_stream.h"
#include "net/url_request.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kits {

class KSTMultipartMimeStreamEncoder {
public:
    // A new random UUID text (36 characters, upper-case hexadecimal with dashes).
    static std::string generateBoundary();
    static std::unique_ptr<KSTMultipartMimeStreamEncoder> encoderWithStream(std::shared_ptr<KSTOutputStream> stream,
                                                                            std::optional<std::string> boundary);
    // "multipart/form-data; boundary=<boundary>".
    static std::string contentTypeHTTPHeaderValueWithBoundary(std::string_view boundary);
    // Encodes into memory with a new boundary, the block adding the parts; then sets the request's
    // "Content-Type" and "Content-Length" (replacing earlier values) and its body to the bytes written.
    static void populateRequestWithDataFromEncoder(net::URLRequest& request,
                                                   const std::function<void(KSTMultipartMimeStreamEncoder&)>& block);

    // A missing boundary is generated.
    KSTMultipartMimeStreamEncoder(std::shared_ptr<KSTOutputStream> stream, std::optional<std::string> boundary);

    std::uint64_t length() const { return length_; }
    const std::string& boundary() const { return boundary_; }
    const std::shared_ptr<KSTOutputStream>& outputStream() const { return outputStream_; }
    std::string headerData() const;
    std::string footerData() const;
    std::string contentTypeHTTPHeaderValue() const;
    // The decimal text of `length()`.
    std::string contentLengthHTTPHeaderValue() const;
    // False once the stream failed to open, refused bytes or failed to close since `beginEncoding`:
    // the body on the stream then lacks some of the parts given.
    bool allWritesSucceeded() const { return allWritesSucceeded_; }

    // beginEncoding, the block (which adds the parts), endEncoding.
    void encode(const std::function<void(KSTMultipartMimeStreamEncoder&)>& block);
    void beginEncoding();
    void endEncoding();

    // One text field. Left out (and logged) when the value is missing or null or the field name is empty.
    void addValue(const std::optional<foundation::PropertyListValue>& value, std::string_view fieldName);
    // One file part; a missing or empty content type writes "application/octet-stream" and no transfer
    // encoding. Left out (and logged) when the bytes are empty or a name is empty.
    void addFileData(std::span<const std::uint8_t> bytes, std::string_view fileName,
                     const std::optional<std::string>& mimeType, std::string_view fieldName);
    // Reads the whole file and adds it as addFileData; a file that cannot be read counts as empty.
    void addFile(const std::filesystem::path& file, std::string_view fileName,
                 const std::optional<std::string>& mimeType, std::string_view fieldName);

    // Writes the bytes range by range; a refused range logs, ends this data and counts only what the
    // stream took.
    void writeData(std::span<const std::uint8_t> bytes);
    void writeData(std::string_view text);
    // Returns whether all bytes were taken.
    bool writeBytes(const std::uint8_t* buffer, std::size_t length);

private:
    // Writes once; adds what the stream took to length_. Returns whether it took everything.
    bool writeOnce(const std::uint8_t* bytes, std::size_t length);

    std::uint64_t length_ = 0;
    std::string boundary_;
    std::shared_ptr<KSTOutputStream> outputStream_;
    bool allWritesSucceeded_ = true;
};

} // namespace kits
