// Reading an address book of 5,000 persons: one .vcf file with every card, and a folder with one
// file per card.
#include "foundation/vcard_reader.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

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

void BM_ReadFileOf5000Cards(benchmark::State& state)
{
    const auto path = addressBook().root / "all.vcf";
    for (auto _ : state) {
        auto persons = foundation::readVCardLocation(path);
        if (!persons.hasValue() || persons->size() != 5000)
            state.SkipWithError("the file did not give 5,000 persons");
        benchmark::DoNotOptimize(persons);
    }
}
BENCHMARK(BM_ReadFileOf5000Cards)->Unit(benchmark::kMillisecond);

void BM_ReadFolderOf5000Cards(benchmark::State& state)
{
    const auto path = addressBook().root / "folder";
    for (auto _ : state) {
        auto persons = foundation::readVCardLocation(path);
        if (!persons.hasValue() || persons->size() != 5000)
            state.SkipWithError("the folder did not give 5,000 persons");
        benchmark::DoNotOptimize(persons);
    }
}
BENCHMARK(BM_ReadFolderOf5000Cards)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
