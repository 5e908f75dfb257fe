// Icons from PNG bytes: the IHDR chunk, which a PNG file must start with, gives the size.
#include "kits/platform/kst_icon.h"

#include "foundation/main_bundle.h"
#include "kits/platform/host_functions.h"

#include <cstring>

namespace kits {

KSTIcon::KSTIcon(foundation::PropertyListData data, std::string dataHash, KSTSize size, bool prerendered)
    : prerendered_(prerendered), data_(std::move(data)), dataHash_(std::move(dataHash)), size_(size)
{}

KSTIcon::KSTIcon(foundation::PropertyListData data, KSTSize size, bool prerendered)
    : KSTIcon(data, KSTSHA1HexOfData(data), size, prerendered)
{}

KSTIcon::KSTIcon(foundation::PropertyListData data, KSTSize size) : KSTIcon(std::move(data), size, true) {}

std::optional<KSTIcon> KSTIcon::fromPNG(foundation::PropertyListData png)
{
    static constexpr std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    // Signature, then the IHDR chunk: length 13, "IHDR", width and height as big-endian words.
    if (png.size() < 24 || std::memcmp(png.data(), signature, sizeof signature) != 0
        || std::memcmp(png.data() + 12, "IHDR", 4) != 0)
        return std::nullopt;
    auto word = [&](std::size_t offset) {
        return (std::uint32_t(png[offset]) << 24) | (std::uint32_t(png[offset + 1]) << 16)
               | (std::uint32_t(png[offset + 2]) << 8) | std::uint32_t(png[offset + 3]);
    };
    const KSTSize size{double(word(16)), double(word(20))};
    if (size.width == 0 || size.height == 0)
        return std::nullopt;
    return KSTIcon(std::move(png), size);
}

const std::optional<KSTIcon>& KSTAppIconUtility::applicationIcon()
{
    std::call_once(fetched_, [this] { applicationIcon_ = fetchApplicationIcon(); });
    return applicationIcon_;
}

std::optional<KSTIcon> KSTAppIconUtility::fetchApplicationIcon() const
{
    return mainAppIcon();
}

std::optional<KSTIcon> KSTAppIconUtility::mainAppIcon() const
{
    auto png = foundation::MainBundle::iconPNG();
    return png ? KSTIcon::fromPNG(std::move(*png)) : std::nullopt;
}

std::shared_ptr<const foundation::PropertyListDictionary> KSTAppIconUtility::appInfoDictionary() const
{
    return foundation::MainBundle::infoDictionary();
}

} // namespace kits
