// Reading an address book of 5,000 persons: one .vcf file with every card, and a folder with one
// file per card; and a hostile file of 31 MiB of line ends, with the process's peak memory.
#include "foundation/vcard_reader.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

std::string card(int index)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person " + std::to_string(index) + ";Given;;;\r\nFN:Given Person "
           + std::to_string(index) + "\r\nORG:Company " + std::to_string(index % 97)
           + ";Sales\r\nEMAIL;TYPE=INTERNET:person" + std::to_string(index)
           + "@example.com\r\nTEL;TYPE=CELL:+49 30 1234567\r\nNOTE:A note that is folded over\r\n  two lines\r\n"
             "END:VCARD\r\n";
}

struct AddressBook {
    std::filesystem::path root = std::filesystem::temp_directory_path() / "horavine_vcard_bench";
    AddressBook()
    {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "folder");
        std::ofstream file(root / "all.vcf", std::ios::binary);
        for (int i = 0; i < 5000; ++i) {
            file << card(i);
            std::ofstream(root / "folder" / (std::to_string(i) + ".vcf"), std::ios::binary) << card(i);
        }
    }
    ~AddressBook() { std::filesystem::remove_all(root); }
};

AddressBook& addressBook()
{
    static AddressBook book;
    return book;
}

// Runs first, before the address book above is made, so the peak it reports is the read's.
void BM_ReadFileOf31MiBOfLineEnds(benchmark::State& state)
{
    const auto path = std::filesystem::temp_directory_path() / "horavine_vcard_bench_line_ends.vcf";
    {
        std::ofstream file(path, std::ios::binary);
        const std::string mebibyte(std::size_t(1) << 20, '\n'); // in pieces, so the peak is the read's
        for (int i = 0; i < 31; ++i)
            file << mebibyte;
    }
    for (auto _ : state) {
        auto contents = foundation::readVCardLocation(path);
        if (!contents.hasValue() || !contents->persons.empty())
            state.SkipWithError("the file of line ends did not read as no persons");
        benchmark::DoNotOptimize(contents);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadFileOf31MiBOfLineEnds)->Unit(benchmark::kMillisecond);

void BM_ReadFileOf5000Cards(benchmark::State& state)
{
    const auto path = addressBook().root / "all.vcf";
    for (auto _ : state) {
        auto contents = foundation::readVCardLocation(path);
        if (!contents.hasValue() || contents->persons.size() != 5000)
            state.SkipWithError("the file did not give 5,000 persons");
        benchmark::DoNotOptimize(contents);
    }
}
BENCHMARK(BM_ReadFileOf5000Cards)->Unit(benchmark::kMillisecond);

void BM_ReadFolderOf5000Cards(benchmark::State& state)
{
    const auto path = addressBook().root / "folder";
    for (auto _ : state) {
        auto contents = foundation::readVCardLocation(path);
        if (!contents.hasValue() || contents->persons.size() != 5000)
            state.SkipWithError("the folder did not give 5,000 persons");
        benchmark::DoNotOptimize(contents);
    }
}
BENCHMARK(BM_ReadFolderOf5000Cards)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
