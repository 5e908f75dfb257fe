// The next launch's report pipeline: processing (symbolication through this process's images,
// demangling, the symbolicated file) and packaging of one crash directory with 10 threads of 40
// frames, 100 images in its image log and 64 KiB of logs; and packaging 100 processed reports.
#include "crash_directory.h"
#include "foundation/main_bundle.h"
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_package_report_operation.h"
#include "kits/crash/bbx_process_report_operation.h"
#include "kits/crash/bbx_symbol_resolver.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using benchcrash::writeReport;

struct Tree {
    Tree()
    {
        root = fs::temp_directory_path() / ("report-pipeline-bench-" + std::to_string(::getpid()));
        foundation::MainBundle::setCachesDirectory(root);
        manager = std::make_shared<kits::BBXFileManager>();
        manager->prepareForNewLaunch();
    }
    ~Tree() { fs::remove_all(root); }
    fs::path root;
    std::shared_ptr<kits::BBXFileManager> manager;
};

void BM_ProcessAndPackageOneCrashDirectory(benchmark::State& state)
{
    Tree tree;
    std::uint64_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto report = writeReport(fs::path(tree.manager->processingPath()) / std::to_string(round), "S");
        state.ResumeTiming();
        std::make_shared<kits::BBXProcessReportOperation>(report, std::make_shared<kits::BBXSymbolResolver>())->start();
        auto packaging = std::make_shared<kits::BBXPackageReportOperation>(report, tree.manager);
        packaging->start();
        benchmark::DoNotOptimize(packaging->finalPath());
        state.PauseTiming();
        fs::remove_all(report->path());
        if (packaging->finalPath())
            fs::remove(*packaging->finalPath());
        ++round;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ProcessAndPackageOneCrashDirectory)->Unit(benchmark::kMillisecond);

void BM_PackageOneHundredProcessedReports(benchmark::State& state)
{
    Tree tree;
    std::vector<std::shared_ptr<kits::BBXInternalReport>> reports;
    for (int index = 0; index < 100; ++index) {
        reports.push_back(writeReport(fs::path(tree.manager->processingPath()) / std::to_string(index), "S"));
        std::make_shared<kits::BBXProcessReportOperation>(reports.back(), std::make_shared<kits::BBXSymbolResolver>())
            ->start();
    }
    for (auto _ : state) {
        for (const auto& report : reports) {
            auto packaging = std::make_shared<kits::BBXPackageReportOperation>(report, tree.manager);
            packaging->start();
            benchmark::DoNotOptimize(packaging->finalPath());
        }
        state.PauseTiming();
        tree.manager->removeContentsOfDirectoryAtPath(tree.manager->preparedPath());
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PackageOneHundredProcessedReports)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
