// Processing a report directory: demangling rules, the resolver's image log and look-ups in this
// process's own images, the symbolicated file's line, and a crash child's directory processed by a
// second launch of the child (its image loaded again under the same build ID).
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_process_report_operation.h"
#include "kits/crash/bbx_symbol_resolver.h"
#include "kits/crash/bbx_thread_array_operation.h"
#include "kits/platform/kit_log.h"

#include "support/file_contents.h"
#include "support/mutator.h"
#include "support/temp_folder.h"
#include "system/elf_identity.h"
#include "system/elf_symbols.h"
#ifndef HORAVINE_SANITIZED
#include "kits_crash_capture/crash_child_run.h"
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <spawn.h>

namespace fs = std::filesystem;
using kits::BBXDemangleOperation;
using kits::BBXProcessReportOperation;
using kits::BBXStackFrame;
using kits::BBXSymbolResolver;

extern "C" char** environ;

using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string loadLine(const std::string& uuid, std::uint64_t base, std::uint64_t size, const std::string& path)
{
    nlohmann::json load = {{"path", path}, {"uuid", uuid}, {"base", base}, {"size", size}};
    return nlohmann::json{{"load", load}}.dump() + "\n";
}

TEST(BBXDemangleTest, FollowsTheRulesInOrder)
{
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_ZN3FooC2Ev"), "Foo::Foo()");
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("__ZN3FooC2Ev_block_invoke_2"), "Foo::Foo()_block_invoke_2");
    // The search runs from the end: the last "_block_invoke" starts the suffix.
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("__ZN3FooC2Ev_block_invoke_block_invoke"),
              std::nullopt); // "_ZN3FooC2Ev_block_invoke" is no C++ name
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("__Zfoo"), std::nullopt);
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("__Z_block_invoke"), std::nullopt); // found below position 5
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_Z"), std::nullopt);
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_T123"), std::nullopt);
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("main"), std::nullopt);
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol(nullptr), std::nullopt);
}

TEST(BBXDemangleTest, SwiftNamesOnlyThroughARegisteredDemangler)
{
    BBXDemangleOperation::registerDemangler([](const std::string& name) -> std::optional<std::string> {
        return name == "_T123" ? std::optional<std::string>("Module.thing") : std::nullopt;
    });
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_T123"), "Module.thing");
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_T9"), std::nullopt);
    BBXDemangleOperation::registerDemangler({});
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_T123"), std::nullopt);
}

TEST(BBXDemangleTest, OperationKeepsTheRawSymbolAndReplacesTheDisplayOne)
{
    auto threads = std::make_shared<kits::BBXThreadArray>();
    threads->push_back({BBXStackFrame::stackFrameWithSymbol("_ZN3FooC2Ev"),
                        BBXStackFrame::stackFrameWithSymbol("__Zfoo"), BBXStackFrame::stackFrameWithAddress(7)});
    std::make_shared<BBXDemangleOperation>(threads)->start();
    const auto& frames = threads->front();
    EXPECT_EQ(frames[0].symbol, "Foo::Foo()");
    EXPECT_EQ(frames[0].rawSymbol, "_ZN3FooC2Ev");
    EXPECT_EQ(frames[1].symbol, "__Zfoo");
    EXPECT_EQ(frames[2].symbol, std::nullopt);
}

TEST(BBXStackFrameTest, Description)
{
    auto frame = BBXStackFrame::stackFrameWithSymbol("main");
    frame.address = 0x1f;
    frame.lineNumber = 12;
    EXPECT_EQ(frame.description(), "{[0x1f + 12] main}");
    frame.fileName = "main.cpp";
    EXPECT_EQ(frame.description(), "{[0x1f] main.cpp - main:12}");
}

TEST(BBXThreadArrayTest, EnumerationStopsOnceCancelled)
{
    auto threads = std::make_shared<kits::BBXThreadArray>(
        kits::BBXThreadArray{{BBXStackFrame::stackFrameWithAddress(1), BBXStackFrame::stackFrameWithAddress(2)},
                             {BBXStackFrame::stackFrameWithAddress(3)}});
    auto operation = std::make_shared<kits::BBXThreadArrayOperation>(threads);
    std::vector<std::uint64_t> seen;
    operation->enumerateFramesWithBlock([&](BBXStackFrame& frame) {
        seen.push_back(frame.address);
        if (frame.address == 2)
            operation->cancel();
    });
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{1, 2}));
}

// A function of this test binary whose first byte, 2 bytes lower, lies in the function before it.
struct Neighbours {
    os::ElfIdentity image;
    os::ElfSymbol function;
    os::ElfSymbol before;
};

std::optional<Neighbours> neighboursInThisBinary()
{
    const auto image = os::loadedImageContaining(reinterpret_cast<std::uintptr_t>(&neighboursInThisBinary));
    if (!image || image->uuid.empty())
        return std::nullopt;
    const auto table = os::ElfSymbolTable::read(os::runningExecutablePath());
    if (!table)
        return std::nullopt;
    for (const auto& symbol : table.table->symbols()) {
        if (symbol.size < 16 || symbol.start < 2)
            continue;
        const os::ElfSymbol* before = table.table->functionContaining(symbol.start - 2);
        if (before && before->start != symbol.start && before->start + before->size <= symbol.start)
            return Neighbours{*image, symbol, *before};
    }
    return std::nullopt;
}

class BBXSymbolResolverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { logged += std::string(line) + "\n"; });
        found = neighboursInThisBinary();
        ASSERT_TRUE(found);
    }
    void TearDown() override { kits::setKitLogSink({}); }

    // An image log with this binary recorded `shift` bytes above where it is loaded now.
    bool load(BBXSymbolResolver& resolver, std::uint64_t shift, const std::string& extra = {})
    {
        writeFile(log, extra
                           + loadLine(found->image.uuid, found->image.base + shift, found->image.size,
                                      "/recorded/elsewhere/program"));
        return resolver.loadBinaryImagesFromFile(log.string());
    }
    std::uint64_t addressOf(const os::ElfSymbol& symbol, std::uint64_t shift) const
    {
        return symbol.start + found->image.slide + shift;
    }

    testsupport::TempFolder folder;
    fs::path log = folder.path() / "binary_images.bbxrecord";
    std::optional<Neighbours> found;
    std::string logged;
};

TEST_F(BBXSymbolResolverTest, NamesAddressesOfAnImageLoadedElsewhereAtCrashTime)
{
    BBXSymbolResolver resolver;
    const std::uint64_t shift = 0x40000000;
    ASSERT_TRUE(load(resolver, shift));
    auto frame = resolver.frameForAddress(addressOf(found->function, shift) + 5);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->rawSymbol, found->function.name);
    EXPECT_EQ(frame->symbol, found->function.name);
    EXPECT_EQ(frame->offset, 5u);
    EXPECT_EQ(frame->library, "program");
    EXPECT_EQ(frame->address, addressOf(found->function, shift) + 5);
}

TEST_F(BBXSymbolResolverTest, AFunctionsFirstByteBelongsToTheFunctionBeforeUnlessItIsTheThreadsOwnPC)
{
    BBXSymbolResolver resolver;
    ASSERT_TRUE(load(resolver, 0));
    auto returnAddress = BBXStackFrame::stackFrameWithAddress(addressOf(found->function, 0));
    ASSERT_TRUE(resolver.updateStackFrame(returnAddress));
    EXPECT_EQ(returnAddress.rawSymbol, found->before.name);
    EXPECT_EQ(returnAddress.offset, found->function.start - 2 - found->before.start);

    auto threadPC = BBXStackFrame::stackFrameWithAddress(addressOf(found->function, 0));
    ASSERT_TRUE(resolver.updateStackFrame(threadPC, true));
    EXPECT_EQ(threadPC.rawSymbol, found->function.name);
    EXPECT_EQ(threadPC.offset, 0u);
}

TEST_F(BBXSymbolResolverTest, ImagesNotLoadedNowUnloadedOrUnplacedTakeNoPart)
{
    BBXSymbolResolver resolver;
    const std::string others = loadLine("00000000000000000000000000000001", 0x1000, 0x1000, "/gone/lib.so")
                               + R"({"unload":{"path":"/x","uuid":"u","base":8192,"size":4096}})"
                                 "\n"
                               + R"({"load":{"path":"/y","uuid":"u","base":null,"size":4096}})"
                                 "\n"
                               + R"({"load":{"path":"/z","uuid":"u","base":"12288","size":4096}})"
                                 "\n";
    ASSERT_TRUE(load(resolver, 0, others));
    ASSERT_EQ(resolver.binaryImages().size(), 2u);
    EXPECT_EQ(resolver.binaryImages()[0]["base"], 0x1000u); // sorted by base

    auto gone = BBXStackFrame::stackFrameWithAddress(0x1800);
    EXPECT_FALSE(resolver.updateStackFrame(gone));
    EXPECT_EQ(gone.symbol, std::nullopt);
    EXPECT_EQ(gone.library, std::nullopt);
    EXPECT_EQ(resolver.loadedBinaryImageForPC(0x2800), nullptr);
    EXPECT_EQ(resolver.loadedBinaryImageForPC(0x3800), nullptr);
    EXPECT_FALSE(resolver.frameForAddress(0));

    writeFile(log, "");
    EXPECT_FALSE(resolver.loadBinaryImagesFromFile(log.string()));
    EXPECT_NE(logged.find("[Blackbox:Crash:SymbolResolver] failed to read binary image file " + log.string()),
              std::string::npos);
    EXPECT_FALSE(resolver.loadBinaryImagesFromFile(""));
}

TEST(BBXSymbolResolverFileTest, AnImageNotLoadedNowIsReadFromItsFileWhileItsBuildIDMatches)
{
    // A library this process never loaded, as a crashed launch that had loaded it logged it.
    const std::string plugin = HORAVINE_IMAGE_PLUGIN;
    const auto file = os::readElfIdentity(plugin);
    ASSERT_TRUE(file) << file.error;
    ASSERT_EQ(file.identity->uuid.size(), 32u);
    const auto table = os::ElfSymbolTable::read(plugin);
    ASSERT_TRUE(table) << table.error;
    const os::ElfSymbol* middle = nullptr;
    for (const auto& symbol : table.table->symbols())
        middle = symbol.name == "imagePluginMiddle" ? &symbol : middle;
    ASSERT_NE(middle, nullptr);
    const std::uint64_t base = 0x7f1200000000;
    const std::uint64_t elsewhere = 0x7f3400000000;
    testsupport::TempFolder folder;
    const fs::path log = folder.path() / "binary_images.bbxrecord";
    writeFile(log, loadLine(file.identity->uuid, base, file.identity->size, plugin)
                       + loadLine("0123456789abcdef0123456789abcdef", elsewhere, file.identity->size, plugin));
    BBXSymbolResolver resolver;
    ASSERT_TRUE(resolver.loadBinaryImagesFromFile(log.string()));

    const std::uint64_t offset = middle->start - file.identity->base;
    const auto named = resolver.frameForAddress(base + offset + 3);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->symbol, "imagePluginMiddle");
    EXPECT_EQ(named->offset, 3u);
    EXPECT_EQ(named->library, fs::path(plugin).filename().string());
    // The same file under another build ID (the library was updated since): nothing is named.
    EXPECT_FALSE(resolver.frameForAddress(elsewhere + offset + 3));
}

TEST(BBXSerializeSymbolicatedFramesTest, WritesOneThreadsLine)
{
    testsupport::TempFolder folder;
    auto named = BBXStackFrame::stackFrameWithSymbol("_ZN3FooC2Ev");
    named.symbol = "Foo::Foo()";
    named.offset = 4;
    named.library = "libfoo.so";
    auto plain = BBXStackFrame::stackFrameWithSymbol("main");
    plain.library = "program";
    plain.scanned = true;
    auto threads = std::make_shared<kits::BBXThreadArray>(
        kits::BBXThreadArray{{named, plain, BBXStackFrame::stackFrameWithAddress(9)}, {}});
    const fs::path output = folder.path() / "signal.bbxrecord.symbolicated";
    std::make_shared<kits::BBXSerializeSymbolicatedFramesOperation>(threads, output.string())->start();
    const std::string expected =
        R"x({"threads":[[{"symbol":"Foo::Foo()","raw_symbol":"_ZN3FooC2Ev","offset":4,"library":"libfoo.so"},)x"
        R"x({"symbol":"main","offset":0,"library":"program","scanned":true},)x"
        R"x({"symbol":null,"offset":0,"library":null}],[]]})x"
        "\n";
    EXPECT_EQ(readFile(output), expected);

    kits::setKitLogSink([](std::string_view) {});
    std::make_shared<kits::BBXSerializeSymbolicatedFramesOperation>(threads, (folder.path() / "none" / "x").string())
        ->start();
    kits::setKitLogSink({});
    EXPECT_FALSE(fs::exists(folder.path() / "none"));
}

TEST(BBXProcessReportTest, ReadsTheFirstThreadsLineOnly)
{
    testsupport::TempFolder folder;
    const fs::path file = folder.path() / "exception.bbxrecord";
    writeFile(file, R"({"exception":{"type":1}})"
                    "\n"
                    R"({"threads":[{"stacktrace":[1,2,"x",3]},{"crashed":true},{"stacktrace":[]}]})"
                    "\n"
                    R"({"threads":[{"stacktrace":[7]}]})"
                    "\n");
    const auto threads = BBXProcessReportOperation::threadArrayFromFile(file.string());
    ASSERT_TRUE(threads);
    ASSERT_EQ(threads->size(), 3u);
    ASSERT_EQ((*threads)[0].size(), 4u);
    EXPECT_EQ((*threads)[0][1].address, 2u);
    EXPECT_EQ((*threads)[0][2].address, 0u);
    EXPECT_EQ((*threads)[0][3].address, 3u);
    EXPECT_TRUE((*threads)[1].empty());

    writeFile(file, R"({"exception":{"type":1}})"
                    "\n");
    EXPECT_FALSE(BBXProcessReportOperation::threadArrayFromFile(file.string()));
    EXPECT_FALSE(BBXProcessReportOperation::threadArrayFromFile((folder.path() / "missing").string()));
}

const char* metadataLine = R"({"identity":{"api_key":"k","session_id":"S1","started_at":1}})"
                           "\n";

// A report directory whose crash files reach this binary's own functions.
void writeReport(const fs::path& directory, const Neighbours& found, const std::string& signal)
{
    writeFile(directory / "metadata.bbxrecord", metadataLine);
    writeFile(directory / "binary_images.bbxrecord",
              loadLine(found.image.uuid, found.image.base, found.image.size, found.image.path.string()));
    writeFile(directory / "signal.bbxrecord", signal);
}

TEST(BBXProcessReportTest, SymbolicatesEachCrashFileWithThreads)
{
    testsupport::TempFolder folder;
    const auto found = neighboursInThisBinary();
    ASSERT_TRUE(found);
    const std::uint64_t address = found->function.start + found->image.slide;
    writeReport(folder.path(), *found,
                R"({"signal":{"number":11}})"
                "\n"
                R"({"threads":[{"stacktrace":[)"
                    + std::to_string(address + 3) + "," + std::to_string(address) + "]}]}\n");
    writeFile(folder.path() / "exception.bbxrecord", R"({"exception":{}})"
                                                     "\n");
    auto report = kits::BBXInternalReport::reportWithPath(folder.path().string());
    ASSERT_TRUE(report);
    std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();

    EXPECT_FALSE(fs::exists(folder.path() / "exception.bbxrecord.symbolicated"));
    EXPECT_FALSE(fs::exists(folder.path() / "mach_exception.bbxrecord.symbolicated"));
    const auto line = nlohmann::json::parse(readFile(folder.path() / "signal.bbxrecord.symbolicated"));
    const auto& frames = line.at("threads").at(0);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0]["offset"], 3u);
    EXPECT_EQ(frames[1]["offset"], found->function.start - 2 - found->before.start);
    EXPECT_EQ(frames[0]["library"], found->image.path.filename().string());
    const auto demangled = BBXDemangleOperation::demangleSymbol(found->function.name.c_str());
    EXPECT_EQ(frames[0]["symbol"], demangled.value_or(found->function.name));
}

TEST(BBXProcessReportTest, NothingWithoutAnImageLog)
{
    testsupport::TempFolder folder;
    writeFile(folder.path() / "metadata.bbxrecord", metadataLine);
    writeFile(folder.path() / "signal.bbxrecord", R"({"threads":[{"stacktrace":[1]}]})"
                                                  "\n");
    auto report = kits::BBXInternalReport::reportWithPath(folder.path().string());
    ASSERT_TRUE(report);
    kits::setKitLogSink([](std::string_view) {});
    std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();
    kits::setKitLogSink({});
    EXPECT_FALSE(fs::exists(folder.path() / "signal.bbxrecord.symbolicated"));
}

// Mutated record files (wrong types, huge arrays, addresses in no image, cut lines) give a
// symbolicated file or none, never a crash. HORAVINE_FUZZ_SEED=<n> replays a run.
TEST(BBXProcessReportTest, MutatedRecordFilesNeverCrashProcessing)
{
    // Each round rewrites the files: in memory when the system has a memory file system.
    const char* previous = std::getenv("TMPDIR");
    const std::string kept = previous ? previous : "";
    if (fs::is_directory("/dev/shm"))
        ::setenv("TMPDIR", "/dev/shm", 1);
    testsupport::TempFolder folder("bbx-process-fuzz");
    if (previous)
        ::setenv("TMPDIR", kept.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    const auto found = neighboursInThisBinary();
    ASSERT_TRUE(found);
    const std::uint64_t address = found->function.start + found->image.slide;
    const std::string images =
        loadLine(found->image.uuid, found->image.base, found->image.size, found->image.path.string())
        + R"({"unload":{"base":1,"size":2}})"
          "\n";
    const std::vector<std::string> signals = {
        R"({"signal":{"number":11}})"
        "\n"
        R"({"threads":[{"crashed":true,"stacktrace":[)"
            + std::to_string(address) + "," + std::to_string(address + 7)
            + R"(,0,18446744073709551615]},{"stacktrace":[1,2,3]}]})"
              "\n",
        R"({"threads":[{"stacktrace":[)" + std::string(2000, '9').insert(0, "1")
            + R"(]},{"stacktrace":{}},7,null]})"
              "\n",
        R"({"threads":{"stacktrace":[1]}})"
        "\n"
        R"({"threads":[[[[[[[[[[]]]]]]]]]]})"
        "\n",
    };
    const char* seedText = std::getenv("HORAVINE_FUZZ_SEED");
    const std::uint64_t seed = seedText ? std::strtoull(seedText, nullptr, 10) : 37;
#ifdef HORAVINE_SANITIZED
    const int rounds = 5000; // each round writes and reads files: 20,000 took 40 s under ASan
#else
    const int rounds = 100000;
#endif
    testsupport::SeededMutator signalMutator(signals, seed);
    testsupport::SeededMutator imageMutator({images}, seed + 1);
    writeFile(folder.path() / "metadata.bbxrecord", metadataLine);
    auto report = kits::BBXInternalReport::reportWithPath(folder.path().string());
    ASSERT_TRUE(report);
    auto resolver = std::make_shared<BBXSymbolResolver>();
    kits::setKitLogSink([](std::string_view) {});
    int written = 0;
    for (int round = 0; round < rounds; ++round) {
        // One file in eight gets a mutated image log, the others a mutated crash file.
        writeFile(folder.path() / "binary_images.bbxrecord", round % 8 == 0 ? imageMutator.next() : images);
        writeFile(folder.path() / "signal.bbxrecord", signalMutator.next());
        fs::remove(folder.path() / "signal.bbxrecord.symbolicated");
        std::make_shared<BBXProcessReportOperation>(report, resolver)->start();
        if (fs::exists(folder.path() / "signal.bbxrecord.symbolicated")) {
            ++written;
            const auto line =
                nlohmann::json::parse(readFile(folder.path() / "signal.bbxrecord.symbolicated"), nullptr, false);
            ASSERT_FALSE(line.is_discarded()) << "seed " << seed << " round " << round;
            ASSERT_TRUE(line.contains("threads")) << "seed " << seed << " round " << round;
        }
    }
    kits::setKitLogSink({});
    EXPECT_GT(written, rounds / 10);
}

#ifndef HORAVINE_SANITIZED

// Runs the crash child on an existing directory and waits at most 60 s; its exit status, or -1.
int runChild(const std::string& directory, const std::string& mode)
{
    std::vector<std::string> arguments = {HORAVINE_CRASH_CHILD, directory, mode};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawn(&child, HORAVINE_CRASH_CHILD, nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The crashed thread's symbolicated frames after a crash in `mode` and processing by a second launch.
nlohmann::json crashedThreadAfter(const std::string& mode, testsupport::CrashRun& run)
{
    run = testsupport::runCrashChild(mode);
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.errors;
    EXPECT_EQ(runChild(run.folder->path().string(), "process"), 0);
    const std::string text = run.text("signal.bbxrecord.symbolicated");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    const auto symbolicated = nlohmann::json::parse(text, nullptr, false);
    if (symbolicated.is_discarded() || !symbolicated.contains("threads"))
        return {};
    EXPECT_EQ(symbolicated.size(), 1u);
    // The crashed thread's index among the recorded threads.
    for (const auto& line : run.lines("signal.bbxrecord")) {
        if (!line.contains("threads"))
            continue;
        for (std::size_t index = 0; index < line["threads"].size(); ++index) {
            if (line["threads"][index].value("crashed", false))
                return symbolicated["threads"].at(index);
        }
    }
    return {};
}

TEST(BBXProcessCrashChildTest, NamesTheCrashedThreadsFrames)
{
    testsupport::CrashRun run;
    const auto frames = crashedThreadAfter("segv-cpp", run);
    ASSERT_TRUE(frames.is_array() && frames.size() >= 3) << frames.dump();
    const std::string child = fs::path(HORAVINE_CRASH_CHILD).filename().string();
    EXPECT_EQ(frames[0]["symbol"], "crash_here()");
    EXPECT_EQ(frames[0]["raw_symbol"], "_Z10crash_herev");
    EXPECT_EQ(frames[0]["library"], child);
    EXPECT_EQ(frames[0]["offset"], 1u); // after the nop
    EXPECT_EQ(frames[1]["symbol"], "call_crash_here()");
    EXPECT_EQ(frames[1]["raw_symbol"], "_ZL15call_crash_herev");
    EXPECT_EQ(frames[1]["library"], child);
    bool libcNamed = false;
    for (const auto& frame : frames) {
        if (frame["library"].is_string() && frame["library"].get<std::string>().starts_with("libc.so")
            && frame["symbol"].is_string() && !frame["symbol"].get<std::string>().empty())
            libcNamed = true;
    }
    EXPECT_TRUE(libcNamed) << frames.dump();
}

TEST(BBXProcessCrashChildTest, ACrashInALibraryLoadedAMomentBeforeIsNamedWithItsWholeCallerChain)
{
    testsupport::CrashRun run;
    const auto frames = crashedThreadAfter("plugin", run);
    ASSERT_TRUE(frames.is_array() && frames.size() >= 5) << frames.dump();
    const std::string plugin = fs::path(HORAVINE_IMAGE_PLUGIN).filename().string();
    const std::string child = fs::path(HORAVINE_CRASH_CHILD).filename().string();
    const std::vector<std::pair<std::string, std::string>> expected = {{"imagePluginFault", plugin},
                                                                       {"imagePluginMiddle", plugin},
                                                                       {"imagePluginCrash", plugin},
                                                                       {"crash_in_plugin", child},
                                                                       {"main", child}};
    for (std::size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(frames[index]["symbol"], expected[index].first) << index << " " << frames.dump();
        EXPECT_EQ(frames[index]["library"], expected[index].second) << index;
    }
    EXPECT_FALSE(run.has("heap-during-capture")) << "the capturing thread allocated";
}

TEST(BBXProcessCrashChildTest, AFrameFoundByScanningTheStackIsMarkedInTheRecordAndTheReport)
{
    testsupport::CrashRun run;
    const auto frames = crashedThreadAfter("jump-nowhere", run);
    // The fault's PC lies in no image: only the stack scan finds the caller.
    const auto threads = run.lines("signal.bbxrecord").at(1)["threads"];
    const auto crashed = std::find_if(threads.begin(), threads.end(),
                                      [](const nlohmann::json& thread) { return thread.contains("crashed"); });
    ASSERT_NE(crashed, threads.end());
    EXPECT_EQ((*crashed)["stacktrace"].at(0), 0x7000u);
    EXPECT_EQ((*crashed)["scanned_frames"], nlohmann::json::parse("[1]"));
    ASSERT_TRUE(frames.is_array() && frames.size() >= 2) << frames.dump();
    EXPECT_FALSE(frames[0].contains("scanned"));
    EXPECT_EQ(frames[1]["symbol"], "jump_nowhere");
    EXPECT_EQ(frames[1]["scanned"], true);
}

TEST(BBXProcessCrashChildTest, AFaultAtAFunctionsFirstInstructionNamesThatFunction)
{
    testsupport::CrashRun run;
    const auto frames = crashedThreadAfter("segv-cpp-entry", run);
    ASSERT_TRUE(frames.is_array() && frames.size() >= 2) << frames.dump();
    EXPECT_EQ(frames[0]["symbol"], "crash_here()");
    EXPECT_EQ(frames[0]["offset"], 0u);
    EXPECT_EQ(frames[0]["library"], fs::path(HORAVINE_CRASH_CHILD).filename().string());
    EXPECT_EQ(frames[1]["symbol"], "call_crash_here()");
}

#endif

} // namespace
