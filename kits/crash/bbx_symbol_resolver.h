// Names the program counters of a crashed launch on the machine that crashed: the launch's image log
// says which image held an address; the same image (matched by its UUID) loaded in this process gives
// the address here, and that image file's ELF symbol table (else the dynamic loader) names it.
// An image that is not loaded now (a plugin the crashed launch loaded late) is read from its recorded
// file when that file still carries the recorded build ID; otherwise its frames stay unnamed. One
// queue at a time.
#pragma once

#include "kits/crash/bbx_stack_frame.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct BBXBinaryImageDetails;

namespace os {
class ElfSymbolTable;
}

namespace kits {

class BBXSymbolResolver {
public:
    BBXSymbolResolver();
    ~BBXSymbolResolver();

    // The "load" entries of the image log whose "base" and "size" are numbers, by base ascending.
    const std::vector<nlohmann::json>& binaryImages() const { return binaryImages_; }

    // Reads the image log; false for an empty path or a file without lines (logged).
    bool loadBinaryImagesFromFile(const std::string& path);
    // The first image in base order with base <= pc < base + size; nullptr when none.
    const nlohmann::json* loadedBinaryImageForPC(std::uint64_t pc) const;
    // The image loaded in this process with that UUID; false for no record, an empty UUID or no match.
    bool fillInImageDetails(BBXBinaryImageDetails* details, const std::string& uuid);
    // A frame of the address when it could be named, else none.
    std::optional<BBXStackFrame> frameForAddress(std::uint64_t address);
    // Names the frame. A symbol's first byte is looked up 2 bytes lower (a return address right
    // after a call that ends a function belongs to that function), unless `asRecorded`: a thread's
    // own program counter (its first frame) is where it stopped and is looked up as it is.
    bool updateStackFrame(BBXStackFrame& frame, bool asRecorded = false);

private:
    struct Symbol {
        std::optional<std::string> name;
        std::uint64_t start = 0;
    };
    struct LoadedImage;
    // The function holding a local address: the image file's symbol table, else the dynamic loader.
    std::optional<Symbol> lookUp(const LoadedImage& image, std::uint64_t address);
    // The image of a log entry: loaded now, else its file when the build ID matches; nullptr when neither.
    const LoadedImage* imageOf(const nlohmann::json& recorded);
    static std::unique_ptr<LoadedImage> imageFromFile(const nlohmann::json& recorded);

    std::vector<nlohmann::json> binaryImages_;
    // By UUID: the image loaded now or its file (none when neither), read once per resolver.
    std::map<std::string, std::unique_ptr<LoadedImage>> loaded_;
    std::map<std::string, std::shared_ptr<const os::ElfSymbolTable>> tables_;
};

} // namespace kits
