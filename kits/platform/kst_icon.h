// The application's icon as the kits send it: PNG bytes with their SHA-1 and size. The host hands its
// icon to foundation::MainBundle as PNG bytes; the size comes from the PNG header, one point a pixel.
#pragma once

#include "foundation/property_list.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kits {

struct KSTSize {
    double width = 0;
    double height = 0;
};

class KSTIcon {
public:
    KSTIcon(foundation::PropertyListData data, std::string dataHash, KSTSize size, bool prerendered);
    // The hash is the SHA-1 of the data.
    KSTIcon(foundation::PropertyListData data, KSTSize size, bool prerendered);
    // Prerendered.
    KSTIcon(foundation::PropertyListData data, KSTSize size);
    // An icon of PNG bytes, sized by their header; nothing when the bytes are no PNG image.
    static std::optional<KSTIcon> fromPNG(foundation::PropertyListData png);

    bool prerendered() const { return prerendered_; }
    const foundation::PropertyListData& data() const { return data_; }
    const std::string& dataHash() const { return dataHash_; }
    KSTSize size() const { return size_; }

    double surfaceArea() const { return size_.width * size_.height; }
    // At most 1024 × 1024.
    bool isWithinMaxSurfaceArea() const { return surfaceArea() <= 1048576.0; }
    bool largerThanSize(KSTSize other) const { return surfaceArea() > other.width * other.height; }

private:
    bool prerendered_;
    foundation::PropertyListData data_;
    std::string dataHash_;
    KSTSize size_;
};

// The main bundle's icon, fetched on first read and kept.
class KSTAppIconUtility {
public:
    const std::optional<KSTIcon>& applicationIcon();
    std::optional<KSTIcon> fetchApplicationIcon() const;
    // The host's icon, or nothing when it handed in none (or no PNG).
    std::optional<KSTIcon> mainAppIcon() const;
    std::shared_ptr<const foundation::PropertyListDictionary> appInfoDictionary() const;

private:
    std::once_flag fetched_;
    std::optional<KSTIcon> applicationIcon_;
};

} // namespace kits
