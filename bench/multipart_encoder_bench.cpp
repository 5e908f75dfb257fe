// The multipart encoder writing one 100 MB file part into a file stream, as the crash and analytics
// kits package their uploads. Target: at most 1 s per encoding, and a peak resident size of at most
// the file's size + 32 MiB (the encoder holds one file's bytes at a time, never the body).
#include "kits/platform/kst_multipart_mime_stream_encoder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr std::size_t fileSize = 100 * 1000 * 1000;

std::filesystem::path benchFolder()
{
    static const auto folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("horavine-encoder-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

// Written a megabyte at a time, so making the input does not raise the peak measured below.
std::filesystem::path inputFile()
{
    const auto path = benchFolder() / "input.bin";
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == fileSize)
        return path;
    std::ofstream file(path, std::ios::binary);
    std::string block(1000 * 1000, '\0');
    for (std::size_t written = 0; written < fileSize; written += block.size()) {
        for (std::size_t index = 0; index < block.size(); ++index)
            block[index] = static_cast<char>((written + index) * 2654435761u >> 24);
        file.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return path;
}

long peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_EncodeHundredMegabyteFilePartIntoAFile(benchmark::State& state)
{
    const auto input = inputFile();
    const auto output = benchFolder() / "body.multipartmime";
    const long before = peakResidentKilobytes();
    for (auto _ : state) {
        auto stream = std::make_shared<kits::KSTFileOutputStream>(output);
        kits::KSTMultipartMimeStreamEncoder encoder(stream, std::nullopt);
        encoder.encode([&](auto& parts) { parts.addFile(input, "input.bin", "application/octet-stream", "upload"); });
        if (!encoder.allWritesSucceeded() || encoder.length() < fileSize)
            state.SkipWithError("the encoding failed");
        benchmark::DoNotOptimize(encoder.length());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileSize));
    state.counters["peak_rss_MiB"] = static_cast<double>(peakResidentKilobytes()) / 1024.0;
    state.counters["peak_rss_before_MiB"] = static_cast<double>(before) / 1024.0;
    state.counters["file_MiB"] = static_cast<double>(fileSize) / (1024.0 * 1024.0);
}
BENCHMARK(BM_EncodeHundredMegabyteFilePartIntoAFile)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(benchFolder(), ignored);
    return 0;
}
