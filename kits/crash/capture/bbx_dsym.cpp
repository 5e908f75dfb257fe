// BBXdSYM: the bundle's Info.plist through the property-list readers, its binary through the Mach-O
// reader. An Info.plist that is missing or unreadable leaves the bundle's identity empty.
#include "kits/crash/capture/bbx_dsym.h"

#include "foundation/property_list_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace kits {

namespace {

constexpr std::string_view dsymIdentifierPrefix = "com.apple.xcode.dsym.";
// An information dictionary is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t maximumInfoPlistSize = 1 << 20;

std::optional<foundation::PropertyListDictionary> readInfoDictionary(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > maximumInfoPlistSize)
        return std::nullopt;
    std::ifstream stream(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (!stream && !stream.eof())
        return std::nullopt;
    auto result = foundation::propertyListFromBytes(std::string_view(bytes));
    if (!result)
        return std::nullopt;
    if (const auto* dictionary = result.value->get<foundation::PropertyListDictionary>())
        return *dictionary;
    return std::nullopt;
}

std::optional<std::string> stringValue(const foundation::PropertyListDictionary& dictionary, std::string_view key)
{
    if (const auto* text = dictionary.get<std::string>(key))
        return *text;
    return std::nullopt;
}

} // namespace

std::unique_ptr<BBXdSYM> BBXdSYM::initWithURL(const std::filesystem::path& bundle)
{
    std::error_code error;
    if (!std::filesystem::exists(bundle, error))
        return nullptr;
    const auto dwarf = bundle / "Contents" / "Resources" / "DWARF";
    if (!std::filesystem::is_directory(dwarf, error))
        return nullptr;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator entry(dwarf, error), end; !error && entry != end; entry.increment(error))
        entries.push_back(entry->path());
    if (error || entries.empty())
        return nullptr;
    std::sort(entries.begin(), entries.end());

    std::unique_ptr<BBXdSYM> dsym(new BBXdSYM());
    dsym->bundle_ = bundle;
    auto binary = BBXMachOBinary::MachOBinaryWithPath(entries.front());
    if (!binary.hasValue())
        return nullptr;
    dsym->binary_ = std::move(binary).value();
    if (auto info = readInfoDictionary(bundle / "Contents" / "Info.plist")) {
        dsym->bundleIdentifier_ = stringValue(*info, "CFBundleIdentifier");
        if (dsym->bundleIdentifier_ && dsym->bundleIdentifier_->starts_with(dsymIdentifierPrefix))
            dsym->bundleIdentifier_->erase(0, dsymIdentifierPrefix.size());
        dsym->bundleVersion_ = stringValue(*info, "CFBundleVersion");
        dsym->shortBundleVersion_ = stringValue(*info, "CFBundleShortVersionString");
    }
    return dsym;
}

} // namespace kits
