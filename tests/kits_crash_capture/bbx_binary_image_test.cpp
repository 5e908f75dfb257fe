// The crash-time image list and "binary_images.bbxrecord": every loaded object at set-up, loads and
// unloads seen within the poll or at once from the loader's own list, slots claimed once, the
// untracked warning, framework bundle keys.
#include "capture_context.h"

#include "system/elf_identity.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <link.h>
#include <set>

namespace {

using testsupport::captureContext;
using testsupport::eventually;

std::vector<nlohmann::json> imageLines()
{
    return testsupport::recordSections(captureContext()->binaryImagesPath);
}

// The lines of `kind` ("load" or "unload") for `path`.
std::vector<nlohmann::json> linesFor(const std::string& kind, const std::string& path)
{
    std::vector<nlohmann::json> found;
    for (const auto& line : imageLines()) {
        if (line.contains(kind) && line[kind]["path"].is_string() && line[kind]["path"] == path)
            found.push_back(line[kind]);
    }
    return found;
}

std::string commandOutput(const std::string& command)
{
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        ::pclose(pipe);
    }
    return output;
}

// The slot that holds `address`, or -1.
int slotHolding(std::uint64_t address)
{
    auto& nodes = captureContext()->state->binaryImages.nodes;
    for (std::size_t index = 0; index < BBXBinaryImageSlotCount; ++index) {
        const auto base = std::atomic_ref<std::uint64_t>(nodes[index].base).load();
        const auto size = std::atomic_ref<std::uint64_t>(nodes[index].size).load();
        if (base != 0 && address >= base && address - base < size)
            return static_cast<int>(index);
    }
    return -1;
}

std::string pluginPath()
{
    return std::filesystem::canonical(HORAVINE_IMAGE_PLUGIN).string();
}

// ThreadSanitizer does not see the loader's own lock, which orders dlopen's writes before
// dl_iterate_phdr's reads, and reports them as races; the tests that load at run time skip there.
#ifdef __SANITIZE_THREAD__
#define SKIP_WHEN_LOADING_IS_UNSEEN() GTEST_SKIP() << "the loader's lock is invisible to ThreadSanitizer"
#else
#define SKIP_WHEN_LOADING_IS_UNSEEN() static_cast<void>(0)
#endif

} // namespace

TEST(BBXBinaryImage, LogsEveryObjectLoadedAtSetUp)
{
    ASSERT_NE(captureContext(), nullptr);
    std::vector<std::uint64_t> bases;
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t, void* data) {
            if (auto identity = os::loadedObjectIdentity(*object))
                static_cast<std::vector<std::uint64_t>*>(data)->push_back(identity.identity->base);
            return 0;
        },
        &bases);
    std::multiset<std::uint64_t> loaded;
    for (const auto& line : imageLines()) {
        if (line.contains("load"))
            loaded.insert(line["load"]["base"].get<std::uint64_t>());
    }
    EXPECT_EQ(loaded.size(), bases.size());
    for (const auto base : bases) {
        EXPECT_EQ(loaded.count(base), 1u) << std::hex << base;
        kits::BBXBinaryImageNode node;
        EXPECT_TRUE(BBXBinaryImageSafeFindImageForAddress(base, &node));
        EXPECT_EQ(node.base, base);
    }

    std::string libc;
    for (const auto& line : imageLines()) {
        if (line.contains("load") && line["load"]["path"].is_string()
            && line["load"]["path"].get<std::string>().find("/libc.so") != std::string::npos) {
            libc = line["load"]["path"];
            const std::string notes = commandOutput("readelf -n '" + libc + "'");
            const auto at = notes.find("Build ID: ");
            ASSERT_NE(at, std::string::npos) << notes;
            EXPECT_EQ(line["load"]["uuid"], notes.substr(at + 10, 32));
            EXPECT_GT(line["load"]["size"].get<std::uint64_t>(), 0u);
        }
    }
    EXPECT_FALSE(libc.empty());
    // The program under its real path, not procfs's link.
    EXPECT_EQ(imageLines().front()["load"]["path"], std::filesystem::canonical("/proc/self/exe").string());
}

TEST(BBXBinaryImage, FollowsDlopenAndDlclose)
{
    SKIP_WHEN_LOADING_IS_UNSEEN();
    ASSERT_NE(captureContext(), nullptr);
    const std::string path = pluginPath();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const auto address = reinterpret_cast<std::uint64_t>(::dlsym(handle, "imagePluginFunction"));
    ASSERT_NE(address, 0u);
    ASSERT_TRUE(eventually([&] { return linesFor("load", path).size() == 1; })) << "no load line within 3 s";
    kits::BBXBinaryImageNode node;
    ASSERT_TRUE(BBXBinaryImageSafeFindImageForAddress(address, &node));
    EXPECT_GT(node.ehFrame, node.base); // the .eh_frame_hdr lies inside the image
    const int firstSlot = slotHolding(address);
    EXPECT_GE(firstSlot, 0);

    ASSERT_EQ(::dlclose(handle), 0);
    ASSERT_TRUE(eventually([&] { return linesFor("unload", path).size() == 1; })) << "no unload line within 3 s";
    EXPECT_FALSE(BBXBinaryImageSafeFindImageForAddress(address, &node));
    const auto unload = linesFor("unload", path).front();
    EXPECT_EQ(unload["base"], linesFor("load", path).front()["base"]);

    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    const auto again = reinterpret_cast<std::uint64_t>(::dlsym(handle, "imagePluginFunction"));
    ASSERT_TRUE(eventually([&] { return linesFor("load", path).size() == 2; }));
    ASSERT_TRUE(BBXBinaryImageSafeFindImageForAddress(again, &node));
    EXPECT_NE(slotHolding(again), firstSlot) << "a reloaded image takes a new slot";
    ::dlclose(handle);
}

TEST(BBXBinaryImage, FrameworkLoadsCarryTheBundleKeys)
{
    SKIP_WHEN_LOADING_IS_UNSEEN();
    ASSERT_NE(captureContext(), nullptr);
    const auto framework = testsupport::captureFolder() / "Sample.framework";
    std::filesystem::create_directories(framework / "Versions" / "A");
    std::filesystem::create_directories(framework / "Resources");
    const auto binary = framework / "Versions" / "A" / "Sample";
    std::filesystem::copy_file(HORAVINE_IMAGE_PLUGIN, binary, std::filesystem::copy_options::overwrite_existing);
    std::ofstream(framework / "Resources" / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>org.example.sample</string>"
           "<key>CFBundleVersion</key><string>42</string>"
           "<key>CFBundleShortVersionString</key><string></string></dict></plist>\n";
    void* handle = ::dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const std::string path = std::filesystem::canonical(binary).string();
    ASSERT_TRUE(eventually([&] { return linesFor("load", path).size() == 1; }));
    const auto line = linesFor("load", path).front();
    EXPECT_EQ(line["bundle_id"], "org.example.sample");
    EXPECT_EQ(line["build_version"], "42");
    EXPECT_FALSE(line.contains("display_version")) << "empty values are left out";
    std::vector<std::string> keys;
    for (const auto& written : testsupport::orderedSections(captureContext()->binaryImagesPath)) {
        if (written.contains("load") && written["load"]["path"] == path) {
            for (const auto& [key, value] : written["load"].items())
                keys.push_back(key);
        }
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"path", "bundle_id", "build_version", "uuid", "base", "size"}));
    ::dlclose(handle);
}

TEST(BBXBinaryImage, FindsImagesByUUID)
{
    ASSERT_NE(captureContext(), nullptr);
    const auto program = os::readElfIdentity("/proc/self/exe");
    ASSERT_TRUE(program);
    BBXBinaryImageDetails details;
    ASSERT_TRUE(BBXBinaryImageFindImageForUUID(program.identity->uuid.c_str(), &details));
    EXPECT_EQ(details.path, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(details.architecture, "x86_64");
    EXPECT_FALSE(BBXBinaryImageFindImageForUUID("00000000000000000000000000000000", &details));
    EXPECT_FALSE(BBXBinaryImageFindImageForUUID(nullptr, &details));
}

TEST(BBXBinaryImage, ACaptureReadsTheLoadersOwnListWithoutWaitingForTheLook)
{
    SKIP_WHEN_LOADING_IS_UNSEEN();
    ASSERT_NE(captureContext(), nullptr);
    // The earlier tests' unloads are seen first (the loader may place the copy where one of theirs was).
    ASSERT_TRUE(eventually([] {
        const auto loaded = os::loadedImages();
        for (auto& slot : captureContext()->state->binaryImages.nodes) {
            const auto base = std::atomic_ref<std::uint64_t>(slot.base).load();
            const auto size = std::atomic_ref<std::uint64_t>(slot.size).load();
            if (size != 0
                && std::none_of(loaded.begin(), loaded.end(), [&](const auto& image) { return image.base == base; }))
                return false;
        }
        return true;
    }));
    // A copy of its own, so the periodic look's lines for the other tests' path do not mix in.
    const auto copy = testsupport::captureFolder() / "loaded-just-now.so";
    std::filesystem::copy_file(HORAVINE_IMAGE_PLUGIN, copy, std::filesystem::copy_options::overwrite_existing);
    const std::string path = std::filesystem::canonical(copy).string();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const auto address = reinterpret_cast<std::uint64_t>(::dlsym(handle, "imagePluginFunction"));
    const auto loaded = os::loadedImageContaining(address);
    ASSERT_TRUE(loaded);

    BBXBinaryImageSafeSyncWithLoader();
    kits::BBXBinaryImageNode node;
    ASSERT_TRUE(BBXBinaryImageSafeFindImageForAddress(address, &node));
    EXPECT_EQ(node.base, loaded->base);
    EXPECT_EQ(node.size, loaded->size);
    EXPECT_EQ(node.ehFrame, loaded->ehFrameHeader);
    const auto loads = linesFor("load", path);
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads[0]["uuid"], loaded->uuid);
    EXPECT_EQ(loads[0]["base"], loaded->base);
    EXPECT_EQ(loads[0]["size"], loaded->size);

    // Gone from the loader's list, gone from the image list; everything still loaded stays.
    ASSERT_EQ(::dlclose(handle), 0);
    BBXBinaryImageSafeSyncWithLoader();
    EXPECT_FALSE(BBXBinaryImageSafeFindImageForAddress(address, &node));
    for (const auto& image : os::loadedImages()) {
        EXPECT_TRUE(BBXBinaryImageSafeFindImageForAddress(image.base, &node)) << image.path;
    }
}

// Fills every free slot, so this test runs last in the file.
TEST(BBXBinaryImage, ZUntrackedImageIsLoggedAndStillWritten)
{
    SKIP_WHEN_LOADING_IS_UNSEEN();
    ASSERT_NE(captureContext(), nullptr);
    auto& nodes = captureContext()->state->binaryImages.nodes;
    std::uint64_t fakeBase = 0x10000000;
    for (auto& slot : nodes) {
        if (std::atomic_ref<std::uint64_t>(slot.base).load() == 0) {
            ASSERT_TRUE(BBXBinaryImageStoreNode({fakeBase, 0x1000, 0, 0, 0}, true));
            fakeBase += 0x1000;
        }
    }
    const std::string path = pluginPath();
    // An earlier test's dlclose is seen by the next look at the loader.
    std::this_thread::sleep_for(std::chrono::duration<double>(2 * BBXBinaryImagePollSeconds));
    const std::size_t loadsBefore = linesFor("load", path).size();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(eventually([&] { return linesFor("load", path).size() == loadsBefore + 1; }));
    EXPECT_NE(testsupport::sdkLogText().find("Error: Unable to track a loaded node 0x"), std::string::npos);
    kits::BBXBinaryImageNode node;
    EXPECT_FALSE(BBXBinaryImageSafeFindImageForAddress(
        reinterpret_cast<std::uint64_t>(::dlsym(handle, "imagePluginFunction")), &node));
    ::dlclose(handle);
}
