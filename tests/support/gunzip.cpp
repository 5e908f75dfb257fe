// gzip inflation with zlib's stream interface (window bits 15 + 16: gzip header and trailer checked).
#include "gunzip.h"

#include <zlib.h>

#include <climits>

namespace testsupport {

GunzipResult gunzip(std::string_view compressed)
{
    if (compressed.size() > UINT_MAX)
        return {std::nullopt, "input too large"};
    std::string output;
    std::size_t consumed = 0;
    do { // one member after another, as gzip files may hold several
        z_stream stream{};
        if (inflateInit2(&stream, 15 + 16) != Z_OK)
            return {std::nullopt, "inflateInit2 failed"};
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + consumed));
        stream.avail_in = static_cast<uInt>(compressed.size() - consumed);
        char buffer[65536];
        int status;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) {
                const std::string why = stream.msg ? stream.msg : "truncated or corrupt data";
                inflateEnd(&stream);
                return {std::nullopt, "gzip: " + why};
            }
            output.append(buffer, sizeof buffer - stream.avail_out);
            if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
                inflateEnd(&stream);
                return {std::nullopt, "gzip: truncated data"};
            }
        } while (status != Z_STREAM_END);
        consumed = compressed.size() - stream.avail_in;
        inflateEnd(&stream);
    } while (consumed < compressed.size());
    return {std::move(output), {}};
}

} // namespace testsupport
