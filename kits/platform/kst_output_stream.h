// The byte sinks the multipart encoder writes to: an interface with a memory and a file stream.
// A stream is opened once, written in order, then closed; each call says whether it worked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace kits {

class KSTOutputStream {
public:
    virtual ~KSTOutputStream() = default;
    // False when the stream cannot take bytes (a file that cannot be created).
    virtual bool open() = 0;
    // Writes up to `length` bytes and returns how many were taken: `length` on success, fewer (or -1)
    // when the stream refused the rest. A stream that is not open refuses everything.
    virtual std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) = 0;
    // False when bytes already taken may not have reached their destination.
    virtual bool close() = 0;
};

// Collects the bytes in memory; `data()` holds everything written so far.
class KSTMemoryOutputStream final : public KSTOutputStream {
public:
    bool open() override;
    std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override;
    bool close() override;
    const std::vector<std::uint8_t>& data() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
    bool open_ = false;
};

// Writes to a file, created (mode 0600) or truncated at open. Bytes go straight to the file: a large
// body is never held in memory.
class KSTFileOutputStream final : public KSTOutputStream {
public:
    explicit KSTFileOutputStream(std::filesystem::path path);
    ~KSTFileOutputStream() override;
    KSTFileOutputStream(const KSTFileOutputStream&) = delete;
    KSTFileOutputStream& operator=(const KSTFileOutputStream&) = delete;

    bool open() override;
    std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override;
    bool close() override;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
};

} // namespace kits
