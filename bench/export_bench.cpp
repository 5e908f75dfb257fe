// The text, CSV and HTML exports of 1,000 projects holding 100,000 timers, and the PDF of 100 projects
// holding 10,000 timers, with long notes and 24 currencies: each document built from the loaded store
// and written to a file, as one export does it.
#include "bench_store_fixture.h"

#include "export/exporter.h"

#include "model/fetch_helpers.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

bench::StoreShape exportShape()
{
    bench::StoreShape shape;
    shape.projects = 1000;
    shape.timers = 100000;
    shape.pauses = 100000;
    shape.largeProjectTimers = 10000;
    shape.longNotes = true;
    shape.currencies = 24;
    return shape;
}

bench::StoreShape pdfShape()
{
    bench::StoreShape shape;
    shape.projects = 100;
    shape.timers = 10000;
    shape.pauses = 10000;
    shape.largeProjectTimers = 1000;
    shape.longNotes = true;
    shape.currencies = 24;
    return shape;
}

// A loaded store shared by the benchmarks of its size (loading it is measured by store_bench).
struct LoadedStore {
    explicit LoadedStore(const bench::StoreShape& shape) : copy(shape) {}
    bench::StoreCopy copy;
    foundation::NotificationCenter center;
    model::PersistenceController controller{copy.path(), center};
    std::vector<model::Project*> projects = model::fetchAll<model::Project>(controller.managedObjectContext());
};

LoadedStore& store()
{
    static auto loaded = std::make_unique<LoadedStore>(exportShape());
    return *loaded;
}

LoadedStore& pdfStore()
{
    static auto loaded = std::make_unique<LoadedStore>(pdfShape());
    return *loaded;
}

const exports::ExportFields& everyField()
{
    static const exports::ExportFields fields(exports::allExportFields().begin(), exports::allExportFields().end());
    return fields;
}

model::Filter allTimers()
{
    model::Filter filter;
    filter.sortDescriptors = std::vector<data::SortDescriptor>{{"start", true}};
    filter.includeBilledTimers = true;
    return filter;
}

// The process's peak resident size in MiB since the last resetPeakMemory: the loaded store and
// what the export adds to it.
double peakMebibytes()
{
    return static_cast<double>(bench::processStatusKiB("VmHWM").value_or(0)) / 1024.0;
}

template <typename Build>
void buildAndWrite(benchmark::State& state, Build build, const char* fileName)
{
    const auto folder = bench::detail::makeTemporaryFolder("horavine-bench-export-");
    LoadedStore& loaded = store();
    bench::resetPeakMemory();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string document = build(loaded.projects, allTimers(), everyField());
        bytes = document.size();
        if (!exports::Exporter::write(document, folder / fileName).isOk())
            state.SkipWithError("the export could not be written");
    }
    state.counters["projects"] = static_cast<double>(loaded.projects.size());
    state.counters["MiB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["peak_MiB"] = peakMebibytes();
    std::filesystem::remove_all(folder);
}

void BM_TextExport(benchmark::State& state)
{
    buildAndWrite(state, &exports::Exporter::textDocument, "export.txt");
}
BENCHMARK(BM_TextExport)->Unit(benchmark::kMillisecond);

void BM_CsvExport(benchmark::State& state)
{
    buildAndWrite(state, &exports::Exporter::csvDocument, "export.csv");
}
BENCHMARK(BM_CsvExport)->Unit(benchmark::kMillisecond);

void BM_HtmlExport(benchmark::State& state)
{
    buildAndWrite(state, &exports::Exporter::htmlDocument, "export.html");
}
BENCHMARK(BM_HtmlExport)->Unit(benchmark::kMillisecond);

// The page built, laid out and painted page by page into the PDF file.
void BM_PdfExport(benchmark::State& state)
{
    const auto folder = bench::detail::makeTemporaryFolder("horavine-bench-pdf-");
    LoadedStore& loaded = pdfStore();
    bench::resetPeakMemory();
    for (auto _ : state) {
        if (!exports::Exporter::printDocument(loaded.projects, allTimers(), folder / "export.pdf", everyField()).isOk())
            state.SkipWithError("the PDF could not be written");
    }
    state.counters["projects"] = static_cast<double>(loaded.projects.size());
    state.counters["MiB"] = static_cast<double>(std::filesystem::file_size(folder / "export.pdf")) / (1024.0 * 1024.0);
    state.counters["peak_MiB"] = peakMebibytes();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PdfExport)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    // The documents' texts depend on the zone and locale; pinned so figures compare across machines.
    ::setenv("TZ", "UTC", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
