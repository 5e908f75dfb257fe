// A debug-symbol bundle ("X.dSYM") and a code mapping: the bundle's identity from its
// "Contents/Info.plist" and the Mach-O binary in "Contents/Resources/DWARF".
#pragma once

#include "kits/crash/capture/bbx_macho_binary.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class BBXdSYM {
public:
    // Nothing unless the bundle exists, holds the directory "Contents/Resources/DWARF" and the first
    // entry there (in name order) can be read as a binary.
    static std::unique_ptr<BBXdSYM> initWithURL(const std::filesystem::path& bundle);

    const std::filesystem::path& bundle() const { return bundle_; }
    const BBXMachOBinary& binary() const { return *binary_; }
    // The bundle's identifier without a leading "com.apple.xcode.dsym."; nothing without one.
    const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
    const std::string& executableURL() const { return binary_->URL(); }
    const std::filesystem::path& executablePath() const { return binary_->path(); }
    // "CFBundleVersion" and "CFBundleShortVersionString" of the bundle.
    const std::optional<std::string>& bundleVersion() const { return bundleVersion_; }
    const std::optional<std::string>& shortBundleVersion() const { return shortBundleVersion_; }

    void
    enumerateUUIDs(const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const
    {
        binary_->enumerateUUIDs(block);
    }

private:
    BBXdSYM() = default;

    std::filesystem::path bundle_;
    std::unique_ptr<BBXMachOBinary> binary_;
    std::optional<std::string> bundleIdentifier_;
    std::optional<std::string> bundleVersion_;
    std::optional<std::string> shortBundleVersion_;
};

// Where the code of a report came from: a URL and a source the caller sets.
class BBXCodeMapping {
public:
    static BBXCodeMapping mappingWithURL(std::string URL) { return BBXCodeMapping(std::move(URL)); }
    explicit BBXCodeMapping(std::string URL) : URL_(std::move(URL)) {}

    const std::string& URL() const { return URL_; }
    const std::optional<std::string>& source() const { return source_; }
    void setSource(std::optional<std::string> source) { source_ = std::move(source); }
    // Read-only and set by nothing: nothing.
    const std::optional<std::string>& sourceName() const { return sourceName_; }

private:
    std::string URL_;
    std::optional<std::string> source_;
    std::optional<std::string> sourceName_;
};

} // namespace kits
