// The image list and its log. Slots are claimed by a compare-and-swap of their base, so any thread
// may store and a signal handler may read without locks. Everything else (the images seen so far,
// the log file) belongs to the binary-images queue.
#include "kits/crash/capture/bbx_binary_image.h"

#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_loader_list.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include "foundation/dispatch_queue.h"
#include "foundation/property_list_file.h"
#include "foundation/scheduler.h"
#include "system/elf_identity.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <link.h>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

namespace {

constexpr std::uint64_t lowestValidAddress = 4096;
// An information dictionary is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t maximumInfoPlistSize = 1 << 20;

// Every field of a slot is read and written atomically (plain moves on x86-64): the base is claimed by
// compare-and-swap, the size is published last (release) and read first (acquire), so a reader that
// sees a size sees the section addresses stored before it.
std::atomic_ref<std::uint64_t> field(std::uint64_t& value)
{
    return std::atomic_ref<std::uint64_t>(value);
}

kits::BBXBinaryImageNode* slots()
{
    BBXContext* context = BBXContextGet();
    return context && context->state ? context->state->binaryImages.nodes : nullptr;
}

// The live slot holding an image at `base` (released slots keep their base with size 0); nullptr
// when none does.
kits::BBXBinaryImageNode* liveSlotAt(std::uint64_t base)
{
    kits::BBXBinaryImageNode* nodes = slots();
    for (std::size_t index = 0; nodes && index < BBXBinaryImageSlotCount; ++index) {
        if (field(nodes[index].base).load(std::memory_order_acquire) == base
            && field(nodes[index].size).load(std::memory_order_acquire) != 0)
            return &nodes[index];
    }
    return nullptr;
}

bool holdsImageAt(std::uint64_t base)
{
    return liveSlotAt(base) != nullptr;
}

// True when the list holds this very image; a slot at its base that differs in span or frame
// information belongs to an image unloaded since (its place taken) and is released.
bool holdsImage(const kits::BBXBinaryImageNode& node)
{
    kits::BBXBinaryImageNode* slot = liveSlotAt(node.base);
    if (!slot)
        return false;
    const std::uint64_t size = field(slot->size).load(std::memory_order_acquire);
    if (size == node.size && field(slot->ehFrame).load(std::memory_order_relaxed) == node.ehFrame)
        return true;
    BBXBinaryImageStoreNode({node.base, size, 0, 0, 0}, false);
    return false;
}

// The loader's counters of objects added and removed since the process began.
struct LoaderCounters {
    unsigned long long adds = 0;
    unsigned long long subs = 0;
    bool operator==(const LoaderCounters&) const = default;
};

bool hasCounters(std::size_t size)
{
    return size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof(dl_phdr_info::dlpi_subs);
}

LoaderCounters currentCounters()
{
    LoaderCounters counters;
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t size, void* data) {
            if (hasCounters(size))
                *static_cast<LoaderCounters*>(data) = {object->dlpi_adds, object->dlpi_subs};
            return 1;
        },
        &counters);
    return counters;
}

struct LoadedObjects {
    LoaderCounters counters;
    std::vector<BBXBinaryImageDetails> images;
};

LoadedObjects scanLoadedObjects()
{
    LoadedObjects objects;
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t size, void* data) {
            auto& found = *static_cast<LoadedObjects*>(data);
            if (found.images.empty() && hasCounters(size))
                found.counters = {object->dlpi_adds, object->dlpi_subs};
            BBXBinaryImageDetails details;
            if (BBXBinaryImageFillInImageDetails(*object, &details))
                found.images.push_back(std::move(details));
            else
                BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to read the image at %p\n",
                        reinterpret_cast<void*>(object->dlpi_addr));
            return 0;
        },
        &objects);
    return objects;
}

// What the queue knows: the images stored and logged, by base, and the counters last seen.
struct Watch {
    std::map<std::uint64_t, BBXBinaryImageDetails> images;
    LoaderCounters counters;
    foundation::ScheduledWork timer;
};

Watch& watch()
{
    static auto* made = new Watch();
    return *made;
}

// A capture that read the loader's list may have stored and logged the image already.
void addImage(const BBXBinaryImageDetails& details)
{
    if (!holdsImage(details.node())) {
        BBXBinaryImageStoreNode(details.node(), true);
        BBXBinaryImageRecordSlice(details, true);
    }
    watch().images[details.headerAddress] = details;
}

// On the binary-images queue: the images that came and went since the last look.
void checkForChanges()
{
    Watch& known = watch();
    if (currentCounters() == known.counters)
        return;
    LoadedObjects objects = scanLoadedObjects();
    known.counters = objects.counters;
    std::map<std::uint64_t, const BBXBinaryImageDetails*> present;
    for (const auto& image : objects.images)
        present[image.headerAddress] = &image;
    for (auto entry = known.images.begin(); entry != known.images.end();) {
        const auto now = present.find(entry->first);
        if (now != present.end() && now->second->path == entry->second.path) {
            ++entry;
            continue;
        }
        if (holdsImageAt(entry->first))
            BBXBinaryImageStoreNode(entry->second.node(), false);
        BBXBinaryImageRecordSlice(entry->second, false);
        entry = known.images.erase(entry);
    }
    for (const auto& image : objects.images) {
        if (!known.images.contains(image.headerAddress))
            addImage(image);
    }
}

std::optional<foundation::PropertyListDictionary> readInfoDictionary(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > maximumInfoPlistSize)
        return std::nullopt;
    std::ifstream stream(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    auto result = foundation::propertyListFromBytes(std::string_view(bytes));
    if (!result)
        return std::nullopt;
    if (const auto* dictionary = result.value->get<foundation::PropertyListDictionary>())
        return *dictionary;
    return std::nullopt;
}

// A framework's bundle keys: the bundle is three path components up from its binary
// (X.framework/Versions/A/X), its information dictionary in Resources.
void writeBundleKeys(BBXFile* file, const std::string& path)
{
    if (path.starts_with("/System") || path.find(".framework") == std::string::npos)
        return;
    const std::filesystem::path bundle = std::filesystem::path(path).parent_path().parent_path().parent_path();
    auto info = readInfoDictionary(bundle / "Resources" / "Info.plist");
    if (!info)
        info = readInfoDictionary(bundle / "Contents" / "Info.plist");
    if (!info)
        return;
    const std::pair<const char*, const char*> keys[] = {{"bundle_id", "CFBundleIdentifier"},
                                                        {"build_version", "CFBundleVersion"},
                                                        {"display_version", "CFBundleShortVersionString"}};
    for (const auto& [key, name] : keys) {
        if (const auto* text = info->get<std::string>(name))
            BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(file, key, text);
    }
}

void writeDetails(BBXFile* file, const BBXBinaryImageDetails& details, bool load)
{
    if (!BBXFileIsOpen(file)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: file is invalid\n");
        return;
    }
    if (load)
        writeBundleKeys(file, details.path);
    BBXFileWriteHashEntryString(file, "uuid", details.uuid);
    BBXFileWriteHashEntryUint64(file, "base", details.headerAddress);
    BBXFileWriteHashEntryUint64(file, "size", details.textSize);
}

std::string resolvedPath(const std::filesystem::path& path)
{
    if (path != os::runningExecutablePath())
        return path.string();
    std::error_code error;
    const auto target = std::filesystem::read_symlink(path, error);
    return error ? path.string() : target.string();
}

// One crash-time pass over the loader's list: the bases it lists, and the log file, opened at the
// first image to add.
struct LoaderSync {
    const char* logPath = nullptr;
    BBXFile log;
    std::uint64_t listed[BBXBinaryImageSlotCount];
    std::size_t listedCount = 0;
    bool overflow = false;
};

constexpr std::size_t loaderNameCapacity = 1024;

// The loader's file name of an object, copied byte by byte (it lies in loader memory); empty when
// unreadable, cut at the capacity.
void copyLoaderName(const char* name, char* out)
{
    std::size_t length = 0;
    for (; name && length + 1 < loaderNameCapacity; ++length) {
        if (!BBXReadMemory(name + length, &out[length], 1) || out[length] == '\0')
            break;
    }
    out[length] = '\0';
}

void syncLoaderObject(const BBXLoaderObject& object, void* data)
{
    auto& sync = *static_cast<LoaderSync*>(data);
    if (sync.listedCount < BBXBinaryImageSlotCount)
        sync.listed[sync.listedCount++] = object.node.base;
    else
        sync.overflow = true;
    if (holdsImage(object.node) || !BBXBinaryImageStoreNode(object.node, true))
        return;
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Image at %p was loaded since the last look\n",
            reinterpret_cast<void*>(object.node.base));
    if (!BBXFileIsOpen(&sync.log)) {
        if (!sync.logPath || !BBXFileInitWithPath(&sync.log, sync.logPath, false)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to open binary image log file\n");
            return;
        }
        // The queue may have stopped in the middle of a line: end it, so this line reads on its own.
        BBXFileWriteWithRetries(sync.log.fd, "\n", 1);
    }
    char path[loaderNameCapacity];
    copyLoaderName(object.name, path);
    BBXFileWriteSectionStart(&sync.log, "load");
    BBXFileWriteHashStart(&sync.log);
    BBXFileWriteHashEntryString(&sync.log, "path", path[0] ? path : nullptr);
    BBXFileWriteHashEntryString(&sync.log, "uuid", object.uuid);
    BBXFileWriteHashEntryUint64(&sync.log, "base", object.node.base);
    BBXFileWriteHashEntryUint64(&sync.log, "size", object.node.size);
    BBXFileWriteHashEnd(&sync.log);
    BBXFileWriteSectionEnd(&sync.log);
}

} // namespace

void BBXBinaryImageInit()
{
    BBXContext* context = BBXContextGet();
    if (!context || !context->state)
        return;
    const auto queue = BBXContextBinaryImagesQueue();
    queue->sync([context] {
        BBXBinaryImageState& state = context->state->binaryImages;
        watch().timer.cancel();
        watch().images.clear();
        for (auto& node : state.nodes)
            node = {};
        state.file = BBXFile{};
        if (!BBXUnlinkIfExists(context->binaryImagesPath))
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to reset the binary image log file %s\n",
                    std::strerror(errno));
        if (!BBXFileInitWithPath(&state.file, context->binaryImagesPath, false))
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to open the binary image log file during init\n");
        LoadedObjects objects = scanLoadedObjects();
        watch().counters = objects.counters;
        for (const auto& image : objects.images)
            addImage(image);
        BBXFileClose(&state.file);
        state.loader = BBXLoaderListLocate();
        state.programBase = objects.images.empty() ? 0 : objects.images.front().headerAddress;
    });
    std::weak_ptr<foundation::SerialQueue> weakQueue = queue;
    watch().timer =
        foundation::scheduler()->every(foundation::SchedulerDuration(BBXBinaryImagePollSeconds), [weakQueue] {
            if (auto strong = weakQueue.lock())
                strong->async(checkForChanges);
        });
}

bool BBXBinaryImageStoreNode(const kits::BBXBinaryImageNode& node, bool load)
{
    kits::BBXBinaryImageNode* nodes = slots();
    if (!nodes) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Writable context is NULL\n");
        return false;
    }
    for (std::size_t index = 0; index < BBXBinaryImageSlotCount; ++index) {
        kits::BBXBinaryImageNode& slot = nodes[index];
        auto base = field(slot.base);
        if (load) {
            std::uint64_t expected = 0;
            if (!base.compare_exchange_strong(expected, node.base))
                continue; // taken, or another thread won the slot
            field(slot.ehFrame).store(node.ehFrame, std::memory_order_relaxed);
            field(slot.unwindInfo).store(node.unwindInfo, std::memory_order_relaxed);
            field(slot.crashInfo).store(node.crashInfo, std::memory_order_relaxed);
            field(slot.size).store(node.size, std::memory_order_release);
            return true;
        }
        if (base.load() != node.base || field(slot.size).load() == 0)
            continue;
        std::uint64_t expected = node.base;
        if (!base.compare_exchange_strong(expected, node.base)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Failed to swap during image unload\n");
            return false;
        }
        field(slot.size).store(0, std::memory_order_release);
        field(slot.ehFrame).store(0, std::memory_order_relaxed);
        field(slot.unwindInfo).store(0, std::memory_order_relaxed);
        field(slot.crashInfo).store(0, std::memory_order_relaxed);
        return true;
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to track a %s node %p\n", load ? "loaded" : "unloaded",
            reinterpret_cast<void*>(node.base));
    return false;
}

void BBXBinaryImageSafeSyncWithLoader()
{
    BBXContext* context = BBXContextGet();
    if (!context || !context->state)
        return;
    BBXBinaryImageState& state = context->state->binaryImages;
    LoaderSync sync;
    sync.logPath = context->binaryImagesPath;
    const BBXLoaderListWalk walk = BBXLoaderListEnumerate(state.loader, syncLoaderObject, &sync);
    BBXFileClose(&sync.log);
    if (!walk.complete || sync.overflow)
        return;
    // Whatever the loader no longer lists is gone (the program stays: a fixed-address one cannot be
    // placed from the list). Its unload line is left to the periodic look, which a dying process skips.
    for (auto& slot : state.nodes) {
        const std::uint64_t base = field(slot.base).load(std::memory_order_acquire);
        const std::uint64_t size = field(slot.size).load(std::memory_order_acquire);
        if (base == 0 || size == 0 || base == state.programBase)
            continue;
        bool listed = false;
        for (std::size_t index = 0; index < sync.listedCount && !listed; ++index)
            listed = sync.listed[index] == base;
        if (listed)
            continue;
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Image at %p was unloaded since the last look\n",
                reinterpret_cast<void*>(base));
        BBXBinaryImageStoreNode({base, size, 0, 0, 0}, false);
    }
}

bool BBXBinaryImageSafeFindImageForAddress(std::uint64_t address, kits::BBXBinaryImageNode* node)
{
    BBXContext* context = BBXContextGet();
    if (!context || !context->state || address == 0 || reinterpret_cast<std::uintptr_t>(node) < lowestValidAddress)
        return false;
    for (auto& slot : context->state->binaryImages.nodes) {
        const std::uint64_t base = field(slot.base).load(std::memory_order_acquire);
        if (base == 0 || address < base)
            continue;
        const std::uint64_t size = field(slot.size).load(std::memory_order_acquire);
        if (address - base >= size)
            continue;
        *node = {base, size, field(slot.ehFrame).load(std::memory_order_relaxed),
                 field(slot.unwindInfo).load(std::memory_order_relaxed),
                 field(slot.crashInfo).load(std::memory_order_relaxed)};
        return true;
    }
    return false;
}

bool BBXBinaryImageHasUnwindInfo(const kits::BBXBinaryImageNode& node)
{
    return node.unwindInfo >= lowestValidAddress;
}

kits::BBXImageFinder BBXBinaryImageFinder()
{
    return {[](const void*, std::uint64_t address, kits::BBXBinaryImageNode* node) {
                return BBXBinaryImageSafeFindImageForAddress(address, node);
            },
            nullptr};
}

bool BBXBinaryImageFindImageForUUID(const char* uuid, BBXBinaryImageDetails* details)
{
    if (!uuid || !details) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] null input\n");
        return false;
    }
    for (auto& image : scanLoadedObjects().images) {
        if (std::strncmp(image.uuid, uuid, sizeof image.uuid) == 0) {
            *details = std::move(image);
            return true;
        }
    }
    return false;
}

bool BBXBinaryImageFillInImageDetails(const dl_phdr_info& object, BBXBinaryImageDetails* details)
{
    if (!details)
        return false;
    const auto result = os::loadedObjectIdentity(object);
    if (!result)
        return false;
    const os::ElfIdentity& identity = *result.identity;
    *details = BBXBinaryImageDetails{};
    std::memcpy(details->uuid, identity.uuid.data(), std::min(identity.uuid.size(), sizeof details->uuid - 1));
    details->headerAddress = identity.base;
    details->textSize = identity.size;
    details->ehFrame = identity.ehFrameHeader;
    details->slide = identity.slide;
    details->architecture = identity.architecture;
    details->path = resolvedPath(identity.path);
    return true;
}

bool BBXBinaryImageRecordMainExecutable(BBXFile* file)
{
    std::optional<BBXBinaryImageDetails> program;
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t, void* data) {
            BBXBinaryImageDetails details;
            if (BBXBinaryImageFillInImageDetails(*object, &details))
                *static_cast<std::optional<BBXBinaryImageDetails>*>(data) = std::move(details);
            return 1; // the program comes first
        },
        &program);
    if (!program)
        return false;
    const auto version = [](const BBXBinaryImageVersion& value) {
        return std::to_string(value.major) + "." + std::to_string(value.minor) + "." + std::to_string(value.bugfix);
    };
    bool ok = BBXFileWriteSectionStart(file, "executable") && BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashEntryString(file, "architecture", program->architecture.c_str());
    ok = ok && BBXFileWriteHashEntryString(file, "uuid", program->uuid);
    ok = ok && BBXFileWriteHashEntryUint64(file, "base", program->headerAddress);
    ok = ok && BBXFileWriteHashEntryUint64(file, "size", program->textSize);
    ok = ok && BBXFileWriteHashEntryBoolean(file, "encrypted", program->encrypted != 0);
    ok = ok && BBXFileWriteHashEntryString(file, "minimum_sdk_version", version(program->minimumOSVersion).c_str());
    ok = ok && BBXFileWriteHashEntryString(file, "built_sdk_version", version(program->linkedSDKVersion).c_str());
    return ok && BBXFileWriteHashEnd(file) && BBXFileWriteSectionEnd(file);
}

void BBXBinaryImageRecordSlice(const BBXBinaryImageDetails& details, bool load)
{
    BBXContext* context = BBXContextGet();
    if (!context || !context->state)
        return;
    BBXFile& file = context->state->binaryImages.file;
    const bool opened = !BBXFileIsOpen(&file);
    if (opened && !BBXFileInitWithPath(&file, context->binaryImagesPath, false)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to open binary image log file\n");
        return;
    }
    BBXFileWriteSectionStart(&file, load ? "load" : "unload");
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEntryString(&file, "path", details.path.empty() ? nullptr : details.path.c_str());
    writeDetails(&file, details, load);
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    if (opened)
        BBXFileClose(&file);
}
