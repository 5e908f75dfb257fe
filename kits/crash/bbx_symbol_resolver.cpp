// Symbol look-ups for a crashed launch's program counters through the images loaded now.

#include "kits/crash/bbx_symbol_resolver.h"

#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/platform/kit_log.h"
#include "system/elf_identity.h"
#include "system/elf_symbols.h"

#include <algorithm>
#include <dlfcn.h>
#include <filesystem>

namespace kits {

struct BBXSymbolResolver::LoadedImage {
    BBXBinaryImageDetails details;
    bool mapped = true; // loaded in this process, so the dynamic loader may name what the file does not
};

namespace {

std::optional<std::uint64_t> unsignedValue(const nlohmann::json& entry, const char* key)
{
    const auto value = entry.find(key);
    if (value == entry.end() || !value->is_number_unsigned())
        return std::nullopt;
    return value->get<std::uint64_t>();
}

} // namespace

BBXSymbolResolver::BBXSymbolResolver() = default;
BBXSymbolResolver::~BBXSymbolResolver() = default;

bool BBXSymbolResolver::loadBinaryImagesFromFile(const std::string& path)
{
    if (path.empty())
        return false;
    const auto lines = BBXFileReadSections(path.c_str(), false, [](nlohmann::json line) { return line; });
    if (!lines || lines->empty()) {
        kitLog("[Blackbox:Crash:SymbolResolver] failed to read binary image file " + path);
        return false;
    }
    binaryImages_.clear();
    for (const auto& line : *lines) {
        const auto load = line.find("load");
        if (load == line.end() || !load->is_object())
            continue;
        // Null or otherwise not a number: the entry cannot be placed and takes no part in look-ups.
        if (!unsignedValue(*load, "base") || !unsignedValue(*load, "size"))
            continue;
        binaryImages_.push_back(*load);
    }
    std::stable_sort(binaryImages_.begin(), binaryImages_.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
        return *unsignedValue(a, "base") < *unsignedValue(b, "base");
    });
    return true;
}

const nlohmann::json* BBXSymbolResolver::loadedBinaryImageForPC(std::uint64_t pc) const
{
    for (const auto& image : binaryImages_) {
        const std::uint64_t base = *unsignedValue(image, "base");
        const std::uint64_t size = *unsignedValue(image, "size");
        if (base <= pc && pc - base < size)
            return &image;
    }
    return nullptr;
}

bool BBXSymbolResolver::fillInImageDetails(BBXBinaryImageDetails* details, const std::string& uuid)
{
    if (!details || uuid.empty())
        return false;
    return BBXBinaryImageFindImageForUUID(uuid.c_str(), details);
}

const BBXSymbolResolver::LoadedImage* BBXSymbolResolver::imageOf(const nlohmann::json& recorded)
{
    const auto uuid = recorded.find("uuid");
    if (uuid == recorded.end() || !uuid->is_string())
        return nullptr;
    const std::string text = uuid->get<std::string>();
    const auto known = loaded_.find(text);
    if (known != loaded_.end())
        return known->second.get();
    auto image = std::make_unique<LoadedImage>();
    if (!fillInImageDetails(&image->details, text))
        image = imageFromFile(recorded);
    return loaded_.emplace(text, std::move(image)).first->second.get();
}

// The image file at the entry's path, placed where the crashed launch had it: only when the file's
// build ID is still the recorded one (an updated library names nothing rather than the wrong thing).
std::unique_ptr<BBXSymbolResolver::LoadedImage> BBXSymbolResolver::imageFromFile(const nlohmann::json& recorded)
{
    const auto path = recorded.find("path");
    const auto uuid = recorded.find("uuid");
    const auto base = unsignedValue(recorded, "base");
    if (path == recorded.end() || !path->is_string() || uuid == recorded.end() || !uuid->is_string() || !base)
        return nullptr;
    const auto file = os::readElfIdentity(path->get<std::string>());
    if (!file || file.identity->uuid.empty() || file.identity->uuid != uuid->get<std::string>()
        || file.identity->base > *base)
        return nullptr;
    auto image = std::make_unique<LoadedImage>();
    image->mapped = false;
    image->details.path = path->get<std::string>();
    image->details.headerAddress = *base;
    image->details.slide = *base - file.identity->base;
    return image;
}

std::optional<BBXSymbolResolver::Symbol> BBXSymbolResolver::lookUp(const LoadedImage& image, std::uint64_t address)
{
    const std::string& path = image.details.path;
    if (!path.empty()) {
        auto table = tables_.find(path);
        if (table == tables_.end()) {
            auto read = os::ElfSymbolTable::read(path);
            table = tables_.emplace(path, read.table).first;
        }
        if (table->second && address >= image.details.slide) {
            if (const os::ElfSymbol* symbol = table->second->functionContaining(address - image.details.slide))
                return Symbol{symbol->name, symbol->start + image.details.slide};
        }
    }
    Dl_info info{};
    if (!image.mapped || ::dladdr(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &info) == 0)
        return std::nullopt;
    Symbol symbol;
    if (info.dli_sname)
        symbol.name = info.dli_sname;
    symbol.start = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    return symbol;
}

bool BBXSymbolResolver::updateStackFrame(BBXStackFrame& frame, bool asRecorded)
{
    if (frame.address == 0)
        return false;
    const nlohmann::json* recorded = loadedBinaryImageForPC(frame.address);
    if (!recorded)
        return false;
    const LoadedImage* image = imageOf(*recorded);
    if (!image)
        return false;

    std::uint64_t local = frame.address - *unsignedValue(*recorded, "base") + image->details.headerAddress;
    auto symbol = lookUp(*image, local);
    if (!symbol)
        return false;
    if (symbol->start == local && !asRecorded) {
        local -= 2;
        symbol = lookUp(*image, local);
        if (!symbol)
            return false;
    }
    if (symbol->name) {
        frame.symbol = symbol->name;
        frame.rawSymbol = symbol->name;
    }
    if (symbol->start < local)
        frame.offset = local - symbol->start;
    const auto path = recorded->find("path");
    if (path != recorded->end() && path->is_string())
        frame.library = std::filesystem::path(path->get<std::string>()).filename().string();
    return true;
}

std::optional<BBXStackFrame> BBXSymbolResolver::frameForAddress(std::uint64_t address)
{
    BBXStackFrame frame = BBXStackFrame::stackFrameWithAddress(address);
    if (!updateStackFrame(frame))
        return std::nullopt;
    return frame;
}

} // namespace kits
