// Read and delete the old file, then write the current payload atomically (a failed write is ignored:
// the next start then finds no previous metadata).

#include "kits/analytics/tly_rotate_crash_metadata_operation.h"

#include "foundation/clock.h"

#include <chrono>

namespace kits {

TLYRotateCrashMetadataOperation::TLYRotateCrashMetadataOperation(std::filesystem::path crashMetadataURL,
                                                                 std::shared_ptr<const TLYMetadata> currentMetadata)
    : crashMetadataURL_(std::move(crashMetadataURL)), currentMetadata_(std::move(currentMetadata))
{
    if (!currentMetadata_)
        return;
    const auto seconds = std::chrono::floor<std::chrono::seconds>(foundation::now()).time_since_epoch().count();
    currentMetadataDictionary_ =
        currentMetadata_->dictionaryRepresentationWithStartTime(seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0);
}

void TLYRotateCrashMetadataOperation::main()
{
    std::error_code error;
    if (std::filesystem::exists(crashMetadataURL_, error)) {
        crashMetadata_ =
            std::make_shared<TLYCrashMetadata>(TLYCrashMetadata::readSerializedDictionaryFromURL(crashMetadataURL_));
        std::filesystem::remove(crashMetadataURL_, error);
    } else
        crashMetadata_ = std::make_shared<TLYCrashMetadata>(foundation::PropertyListDictionary{});
    if (currentMetadataDictionary_)
        TLYCrashMetadata::writeSerializedDictionary(*currentMetadataDictionary_, crashMetadataURL_);
}

} // namespace kits
