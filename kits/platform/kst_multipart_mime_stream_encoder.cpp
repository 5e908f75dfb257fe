// The multipart/form-data wire format, written straight onto the encoder's stream.
#include "kits/platform/kst_multipart_mime_stream_encoder.h"

#include "kits/platform/host_functions.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_value_description.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kits {

namespace {

constexpr std::string_view crlf = "\r\n";

// A name holding a line break or a quotation mark would end its header line or its quoted text early
// and break the body, so such a part is refused like an empty name.
bool isUsableName(std::string_view name)
{
    return !name.empty() && name.find_first_of("\r\n\"") == std::string_view::npos;
}

std::string describeForLog(const std::optional<foundation::PropertyListValue>& value)
{
    if (!value)
        return "(null)";
    if (value->isNull())
        return "<null>";
    return KSTValueDescription(*value);
}

// The whole file, or nothing when it cannot be read to its end.
std::vector<std::uint8_t> readWholeFile(const std::filesystem::path& path)
{
    std::vector<std::uint8_t> bytes;
    int descriptor;
    do
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return bytes;
    struct stat facts {};
    if (::fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        ::close(descriptor);
        return bytes;
    }
    bytes.resize(static_cast<std::size_t>(facts.st_size));
    std::size_t filled = 0;
    while (true) {
        // Into the buffer while it has room; then a small probe for bytes the file gained since fstat,
        // so a file of the expected size is never copied into a larger buffer.
        char probe[4096];
        const bool full = filled == bytes.size();
        const ssize_t result = full ? ::read(descriptor, probe, sizeof probe)
                                    : ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0) {
            ::close(descriptor);
            return {};
        }
        if (result == 0)
            break;
        if (full) {
            bytes.insert(bytes.end(), probe, probe + result);
            filled = bytes.size();
        } else {
            filled += static_cast<std::size_t>(result);
        }
    }
    ::close(descriptor);
    bytes.resize(filled);
    return bytes;
}

} // namespace

std::string KSTMultipartMimeStreamEncoder::generateBoundary()
{
    return KSTGenerateUUIDString();
}

std::unique_ptr<KSTMultipartMimeStreamEncoder>
KSTMultipartMimeStreamEncoder::encoderWithStream(std::shared_ptr<KSTOutputStream> stream,
                                                 std::optional<std::string> boundary)
{
    return std::make_unique<KSTMultipartMimeStreamEncoder>(std::move(stream), std::move(boundary));
}

std::string KSTMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(std::string_view boundary)
{
    return "multipart/form-data; boundary=" + std::string(boundary);
}

void KSTMultipartMimeStreamEncoder::populateRequestWithDataFromEncoder(
    net::URLRequest& request, const std::function<void(KSTMultipartMimeStreamEncoder&)>& block)
{
    auto stream = std::make_shared<KSTMemoryOutputStream>();
    KSTMultipartMimeStreamEncoder encoder(stream, std::nullopt);
    encoder.encode(block);
    request.setValueForHTTPHeaderField(encoder.contentTypeHTTPHeaderValue(), "Content-Type");
    request.setValueForHTTPHeaderField(encoder.contentLengthHTTPHeaderValue(), "Content-Length");
    request.httpBody.assign(stream->data().begin(), stream->data().end());
}

KSTMultipartMimeStreamEncoder::KSTMultipartMimeStreamEncoder(std::shared_ptr<KSTOutputStream> stream,
                                                             std::optional<std::string> boundary)
    : boundary_(boundary ? std::move(*boundary) : generateBoundary()), outputStream_(std::move(stream))
{}

std::string KSTMultipartMimeStreamEncoder::headerData() const
{
    return "MIME-Version: 1.0\r\n";
}

std::string KSTMultipartMimeStreamEncoder::footerData() const
{
    return "--" + boundary_ + "--\r\n";
}

std::string KSTMultipartMimeStreamEncoder::contentTypeHTTPHeaderValue() const
{
    return contentTypeHTTPHeaderValueWithBoundary(boundary_);
}

std::string KSTMultipartMimeStreamEncoder::contentLengthHTTPHeaderValue() const
{
    return std::to_string(length_);
}

void KSTMultipartMimeStreamEncoder::encode(const std::function<void(KSTMultipartMimeStreamEncoder&)>& block)
{
    beginEncoding();
    if (block)
        block(*this);
    endEncoding();
}

void KSTMultipartMimeStreamEncoder::beginEncoding()
{
    length_ = 0;
    allWritesSucceeded_ = true;
    if (!outputStream_ || !outputStream_->open())
        allWritesSucceeded_ = false;
    writeData(headerData());
}

void KSTMultipartMimeStreamEncoder::endEncoding()
{
    writeData(footerData());
    if (outputStream_ && !outputStream_->close())
        allWritesSucceeded_ = false;
}

void KSTMultipartMimeStreamEncoder::addValue(const std::optional<foundation::PropertyListValue>& value,
                                             std::string_view fieldName)
{
    if (!value || value->isNull() || !isUsableName(fieldName)) {
        kitLog("[Keystone] name (" + std::string(fieldName) + ") or value (" + describeForLog(value) + ") is invalid");
        return;
    }
    std::string part = "--" + boundary_ + "\r\n";
    part += "Content-Disposition: form-data; name=\"" + std::string(fieldName) + "\"\r\n";
    part += "Content-Type: text/plain\r\n\r\n";
    part += KSTValueDescription(*value);
    part += crlf;
    writeData(part);
}

void KSTMultipartMimeStreamEncoder::addFileData(std::span<const std::uint8_t> bytes, std::string_view fileName,
                                                const std::optional<std::string>& mimeType, std::string_view fieldName)
{
    if (bytes.empty()) {
        kitLog("[Keystone] Unable to MIME encode data with zero length (" + std::string(fieldName) + ")");
        return;
    }
    if (!isUsableName(fieldName) || !isUsableName(fileName)) {
        kitLog("[Keystone] name (" + std::string(fieldName) + ") or fieldname (" + std::string(fileName)
               + ") is invalid");
        return;
    }
    std::string head = "--" + boundary_ + "\r\n";
    head += "Content-Disposition: form-data; name=\"" + std::string(fieldName) + "\"; filename=\""
            + std::string(fileName) + "\"\r\n";
    // A content type holding a line break would smuggle header lines into the part.
    if (mimeType && !mimeType->empty() && mimeType->find_first_of("\r\n") == std::string::npos)
        head += "Content-Type: " + *mimeType + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
    else
        head += "Content-Type: application/octet-stream\r\n\r\n";
    writeData(head);
    writeData(bytes);
    writeData(crlf);
}

void KSTMultipartMimeStreamEncoder::addFile(const std::filesystem::path& file, std::string_view fileName,
                                            const std::optional<std::string>& mimeType, std::string_view fieldName)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(file);
    addFileData(bytes, fileName, mimeType, fieldName);
}

void KSTMultipartMimeStreamEncoder::writeData(std::span<const std::uint8_t> bytes)
{
    KSTEnumerateByteRangesOfData(bytes, [this](const std::uint8_t* range, KSTByteRange where, bool& stop) {
        if (!writeOnce(range, where.length)) {
            kitLog("[Keystone] Failed to write data to stream");
            stop = true;
        }
    });
}

void KSTMultipartMimeStreamEncoder::writeData(std::string_view text)
{
    writeData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool KSTMultipartMimeStreamEncoder::writeBytes(const std::uint8_t* buffer, std::size_t length)
{
    if (writeOnce(buffer, length))
        return true;
    kitLog("[Keystone] Failed to write bytes to stream");
    return false;
}

bool KSTMultipartMimeStreamEncoder::writeOnce(const std::uint8_t* bytes, std::size_t length)
{
    if (length == 0)
        return true;
    const std::ptrdiff_t taken = outputStream_ ? outputStream_->write(bytes, length) : -1;
    // Bytes a stream took before refusing the rest are on the stream, so they count: Content-Length
    // must match what the stream holds.
    if (taken > 0)
        length_ += static_cast<std::uint64_t>(std::min<std::ptrdiff_t>(taken, static_cast<std::ptrdiff_t>(length)));
    if (taken == static_cast<std::ptrdiff_t>(length))
        return true;
    allWritesSucceeded_ = false;
    return false;
}

} // namespace kits
