// The multipart encoder byte for byte: header and footer, text fields, file parts with and without a
// content type, refused parts, streams that refuse bytes, the file stream, and a request populated
// from an encoding.
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_multipart_mime_stream_encoder.h"

#include "multipart_reader.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace {

using kits::KSTMultipartMimeStreamEncoder;

std::string text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Takes bytes until its budget is spent; a write beyond it is cut short (or refused when nothing is left).
class BudgetStream final : public kits::KSTOutputStream {
public:
    explicit BudgetStream(std::size_t budget) : budget_(budget) {}
    bool open() override { return true; }
    std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override
    {
        const std::size_t taken = std::min(length, budget_);
        if (taken == 0)
            return -1;
        data.append(reinterpret_cast<const char*>(bytes), taken);
        budget_ -= taken;
        return static_cast<std::ptrdiff_t>(taken);
    }
    bool close() override { return true; }
    std::string data;

private:
    std::size_t budget_;
};

// Refuses any single write longer than a limit, takes everything else.
class LimitStream final : public kits::KSTOutputStream {
public:
    explicit LimitStream(std::size_t limit) : limit_(limit) {}
    bool open() override { return true; }
    std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override
    {
        if (length > limit_)
            return -1;
        data.append(reinterpret_cast<const char*>(bytes), length);
        return static_cast<std::ptrdiff_t>(length);
    }
    bool close() override { return true; }
    std::string data;

private:
    std::size_t limit_;
};

class MultipartEncoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    void TearDown() override { kits::setKitLogSink({}); }

    std::string encode(const std::function<void(KSTMultipartMimeStreamEncoder&)>& parts,
                       std::optional<std::string> boundary = "B")
    {
        auto stream = std::make_shared<kits::KSTMemoryOutputStream>();
        encoder = KSTMultipartMimeStreamEncoder::encoderWithStream(stream, std::move(boundary));
        encoder->encode(parts);
        return text(stream->data());
    }

    std::unique_ptr<KSTMultipartMimeStreamEncoder> encoder;
    std::vector<std::string> lines;
};

} // namespace

TEST_F(MultipartEncoderTest, NoPartsGiveHeaderAndClosingBoundaryOnly)
{
    const std::string body = encode({}, std::nullopt);
    const std::string& boundary = encoder->boundary();
    EXPECT_TRUE(std::regex_match(boundary, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    EXPECT_EQ(body, "MIME-Version: 1.0\r\n--" + boundary + "--\r\n");
    EXPECT_EQ(body.size(), 61u);
    EXPECT_EQ(encoder->length(), 61u);
    EXPECT_EQ(encoder->contentLengthHTTPHeaderValue(), "61");
    EXPECT_EQ(encoder->contentTypeHTTPHeaderValue(), "multipart/form-data; boundary=" + boundary);
    EXPECT_TRUE(encoder->allWritesSucceeded());
    EXPECT_NE(KSTMultipartMimeStreamEncoder::generateBoundary(), boundary);
}

TEST_F(MultipartEncoderTest, TextFieldsByteForByte)
{
    const std::string empty = encode({}, std::nullopt);
    const std::string boundary = encoder->boundary();
    const std::string body = encode([](auto& e) { e.addValue(foundation::PropertyListValue("abc"), "x"); }, boundary);
    EXPECT_EQ(body.size() - empty.size(), 115u);
    EXPECT_EQ(body, "MIME-Version: 1.0\r\n--" + boundary
                        + "\r\nContent-Disposition: form-data; name=\"x\"\r\nContent-Type: text/plain\r\n\r\nabc\r\n--"
                        + boundary + "--\r\n");
    const std::string number = encode([](auto& e) { e.addValue(foundation::PropertyListValue(7), "n"); });
    EXPECT_EQ(number, "MIME-Version: 1.0\r\n--B\r\nContent-Disposition: form-data; name=\"n\"\r\nContent-Type: "
                      "text/plain\r\n\r\n7\r\n--B--\r\n");
    EXPECT_TRUE(lines.empty());
}

TEST_F(MultipartEncoderTest, FileParts)
{
    const std::string typed = encode(
        [](auto& e) { e.addFileData(bytesOf(std::string_view("\r\n-\0x", 5)), "f.gz", "application/gzip", "file"); });
    auto read = testsupport::readMultipartBody(typed, "B");
    ASSERT_TRUE(read.parts) << read.error;
    ASSERT_EQ(read.parts->size(), 1u);
    const auto& part = read.parts->front();
    EXPECT_EQ(part.header("Content-Disposition"), "form-data; name=\"file\"; filename=\"f.gz\"");
    EXPECT_EQ(part.header("Content-Type"), "application/gzip");
    EXPECT_EQ(part.header("Content-Transfer-Encoding"), "binary");
    EXPECT_EQ(part.headers.size(), 3u);
    EXPECT_EQ(part.body, std::string_view("\r\n-\0x", 5));

    const std::string untyped = encode([](auto& e) { e.addFileData(bytesOf("data"), "f", std::nullopt, "file"); });
    EXPECT_EQ(untyped, "MIME-Version: 1.0\r\n--B\r\nContent-Disposition: form-data; name=\"file\"; "
                       "filename=\"f\"\r\nContent-Type: application/octet-stream\r\n\r\ndata\r\n--B--\r\n");
    EXPECT_EQ(untyped.find("Content-Transfer-Encoding"), std::string::npos);
    EXPECT_TRUE(lines.empty());
}

TEST_F(MultipartEncoderTest, InvalidPartsAreLoggedAndLeftOut)
{
    const std::string body = encode([](auto& e) {
        e.addFileData({}, "empty.bin", std::nullopt, "f");
        e.addFileData(bytesOf("x"), "", std::nullopt, "g");
        e.addFileData(bytesOf("x"), "a\"b", std::nullopt, "h");
        e.addValue(std::nullopt, "missing");
        e.addValue(foundation::PropertyListValue(), "null");
        e.addValue(foundation::PropertyListValue("v"), "");
        e.addValue(foundation::PropertyListValue("v"), "line\r\nX-Evil: 1");
        e.addFile("/nonexistent/file", "gone", std::nullopt, "unreadable");
    });
    EXPECT_EQ(body, "MIME-Version: 1.0\r\n--B--\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[Keystone] Unable to MIME encode data with zero length (f)",
                         "[Keystone] name (g) or fieldname () is invalid",
                         "[Keystone] name (h) or fieldname (a\"b) is invalid",
                         "[Keystone] name (missing) or value ((null)) is invalid",
                         "[Keystone] name (null) or value (<null>) is invalid",
                         "[Keystone] name () or value (v) is invalid",
                         "[Keystone] name (line\r\nX-Evil: 1) or value (v) is invalid",
                         "[Keystone] Unable to MIME encode data with zero length (unreadable)",
                     }));
    EXPECT_TRUE(encoder->allWritesSucceeded());
}

TEST_F(MultipartEncoderTest, RefusedBytesAreLoggedNotCountedAndLaterPartsStillTried)
{
    // Writes of more than 200 bytes are refused: the 1,000-byte file's bytes, nothing else.
    auto stream = std::make_shared<LimitStream>(200);
    KSTMultipartMimeStreamEncoder limited(stream, "B");
    const std::string big(1000, 'z');
    limited.encode([&](auto& e) {
        e.addFileData(bytesOf(big), "big", std::nullopt, "file");
        e.addValue(foundation::PropertyListValue("after"), "later");
    });
    EXPECT_EQ(lines, std::vector<std::string>{"[Keystone] Failed to write data to stream"});
    EXPECT_FALSE(limited.allWritesSucceeded());
    EXPECT_EQ(limited.length(), stream->data.size());
    EXPECT_EQ(stream->data.find('z'), std::string::npos);
    EXPECT_NE(stream->data.find("name=\"later\""), std::string::npos);
    EXPECT_TRUE(stream->data.ends_with("--B--\r\n"));

    // A stream that takes 30 bytes and then nothing: a partly taken write counts what it took; the
    // part and the footer are each refused.
    lines.clear();
    auto budget = std::make_shared<BudgetStream>(30);
    KSTMultipartMimeStreamEncoder cut(budget, "B");
    cut.encode([](auto& e) { e.addValue(foundation::PropertyListValue("abc"), "x"); });
    EXPECT_EQ(budget->data.size(), 30u);
    EXPECT_EQ(cut.length(), 30u);
    EXPECT_EQ(cut.contentLengthHTTPHeaderValue(), "30");
    EXPECT_EQ(lines, std::vector<std::string>(2, "[Keystone] Failed to write data to stream"));

    lines.clear();
    EXPECT_FALSE(cut.writeBytes(reinterpret_cast<const std::uint8_t*>("q"), 1));
    EXPECT_EQ(lines, std::vector<std::string>{"[Keystone] Failed to write bytes to stream"});
}

TEST_F(MultipartEncoderTest, FileStreamHoldsTheBodyAndItsLength)
{
    testsupport::TempFolder folder;
    const auto input = folder.path() / "input.bin";
    std::string content;
    for (int index = 0; index < 70000; ++index)
        content += static_cast<char>(index * 7);
    std::ofstream(input, std::ios::binary) << content;
    auto stream = std::make_shared<kits::KSTFileOutputStream>(folder.path() / "body.multipartmime");
    KSTMultipartMimeStreamEncoder file(stream, std::nullopt);
    file.encode([&](auto& e) {
        e.addValue(foundation::PropertyListValue("v"), "field");
        e.addFile(input, "input.bin", "application/octet-stream", "upload");
    });
    EXPECT_TRUE(file.allWritesSucceeded());
    std::ifstream written(stream->path(), std::ios::binary);
    const std::string body((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file.length(), body.size());
    EXPECT_EQ(file.contentLengthHTTPHeaderValue(), std::to_string(body.size()));
    auto read = testsupport::readMultipartBody(body, file.boundary());
    ASSERT_TRUE(read.parts) << read.error;
    ASSERT_EQ(read.parts->size(), 2u);
    EXPECT_EQ((*read.parts)[0].body, "v");
    EXPECT_EQ((*read.parts)[1].body, content);

    // A file stream that cannot be created: every write fails, and the encoder says so.
    auto nowhere = std::make_shared<kits::KSTFileOutputStream>(folder.path() / "missing" / "body");
    KSTMultipartMimeStreamEncoder failed(nowhere, "B");
    failed.encode([](auto& e) { e.addValue(foundation::PropertyListValue("v"), "f"); });
    EXPECT_FALSE(failed.allWritesSucceeded());
    EXPECT_EQ(failed.length(), 0u);
}

TEST_F(MultipartEncoderTest, PopulatedRequestCarriesTheBodyAndItsHeaders)
{
    net::URLRequest request("https://example.test/upload");
    request.httpMethod = "POST";
    request.setValueForHTTPHeaderField("application/json", "content-type");
    request.setValueForHTTPHeaderField("999", "Content-Length");
    request.setValueForHTTPHeaderField("1", "X-A");
    request.httpBody = "stale body";
    KSTMultipartMimeStreamEncoder::populateRequestWithDataFromEncoder(request, [](auto& e) {
        e.addValue(foundation::PropertyListValue("v"), "field");
        e.addFileData(bytesOf(std::string_view("\0\r\n", 3)), "f.bin", std::nullopt, "file");
    });

    // The earlier values are replaced in place, never doubled.
    const auto& fields = request.headerFields.fields();
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].first, "content-type");
    EXPECT_EQ(fields[1],
              (std::pair<std::string, std::string>("Content-Length", std::to_string(request.httpBody.size()))));
    EXPECT_EQ(fields[2], (std::pair<std::string, std::string>("X-A", "1")));
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_TRUE(fields[0].second.starts_with(prefix));
    const std::string boundary = fields[0].second.substr(prefix.size());
    EXPECT_TRUE(std::regex_match(boundary, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    auto read = testsupport::readMultipartBody(request.httpBody, boundary);
    ASSERT_TRUE(read.parts) << read.error;
    ASSERT_EQ(read.parts->size(), 2u);
    EXPECT_EQ((*read.parts)[0].body, "v");
    EXPECT_EQ((*read.parts)[1].body, std::string_view("\0\r\n", 3));
    EXPECT_EQ(request.url, "https://example.test/upload");
    EXPECT_EQ(request.httpMethod, "POST");

    // Each population has its own boundary; no parts leave the 61-byte empty body.
    net::URLRequest empty;
    KSTMultipartMimeStreamEncoder::populateRequestWithDataFromEncoder(empty, {});
    EXPECT_EQ(empty.httpBody.size(), 61u);
    EXPECT_EQ(empty.valueForHTTPHeaderField("Content-Length"), "61");
    EXPECT_NE(empty.valueForHTTPHeaderField("Content-Type"), fields[0].second);
    EXPECT_TRUE(lines.empty());
}

TEST(MultipartReaderTest, RefusesBodiesThatBreakTheFormat)
{
    const std::string good = "MIME-Version: 1.0\r\n--B\r\nA: 1\r\n\r\nbody\r\n--B--\r\n";
    ASSERT_TRUE(testsupport::readMultipartBody(good, "B").parts);
    for (const std::string& bad : {
             std::string("MIME-Version: 1.0\r\n\r\n--B--\r\n"),                    // blank line after the preamble
             std::string("MIME-Version: 1.0\n--B--\r\n"),                          // bare LF
             std::string("MIME-Version: 1.0\r\n--B\r\nA: 1\r\n\r\nbody\r\n--B--"), // closing without CRLF
             std::string("MIME-Version: 1.0\r\n--B\r\nA: 1\r\n\r\nbody\r\n--B--\r\nx"),
             std::string("MIME-Version: 1.0\r\n--B\r\nA1\r\n\r\nbody\r\n--B--\r\n"),
             std::string("MIME-Version: 1.0\r\n--B\r\nA: 1\r\n\r\nbody--B--\r\n"),
         })
        EXPECT_FALSE(testsupport::readMultipartBody(bad, "B").parts) << bad;
}

TEST(MultipartReaderTest, NamesAndBoundariesAreReadFromTheirOwnParameters)
{
    EXPECT_EQ(testsupport::boundaryOf("multipart/form-data; boundary=B0-1"), "B0-1");
    EXPECT_EQ(testsupport::boundaryOf("multipart/form-data; charset=utf-8; boundary=\"B 2\""), "B 2");
    EXPECT_EQ(testsupport::boundaryOf("multipart/form-data"), "");
    EXPECT_EQ(testsupport::boundaryOf("multipart/form-data; xboundary=B"), "");

    const auto part = [](std::string disposition) {
        return testsupport::MultipartPart{{{"Content-Disposition", std::move(disposition)}}, ""};
    };
    EXPECT_EQ(part("form-data; name=\"report_id\"").formName(), "report_id");
    EXPECT_EQ(part("form-data; name=\"f\"; filename=\"f.gz\"").formName(), "f");
    EXPECT_EQ(part("form-data; filename=\"f.gz\"; name=\"f2\"").formName(), "f2");
    EXPECT_EQ(part("form-data; filename=\"name.gz\"").formName(), std::nullopt);
    EXPECT_EQ(testsupport::MultipartPart{}.formName(), std::nullopt);
}
