// At start: the previous run's metadata comes out of the crash metadata file (or is empty on a first
// start) and the current run's payload, computed when the operation is made, goes in.
#pragma once

#include "foundation/operation_queue.h"
#include "foundation/property_list.h"
#include "kits/analytics/tly_metadata.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace kits {

class TLYRotateCrashMetadataOperation final : public foundation::Operation {
public:
    TLYRotateCrashMetadataOperation(std::filesystem::path crashMetadataURL,
                                    std::shared_ptr<const TLYMetadata> currentMetadata);

    void main() override;

    // The previous run's metadata, after main(); a file that could not be read gives one without a
    // dictionary.
    const std::shared_ptr<const TLYCrashMetadata>& crashMetadata() const { return crashMetadata_; }
    const std::optional<foundation::PropertyListDictionary>& currentMetadataDictionary() const
    {
        return currentMetadataDictionary_;
    }

private:
    std::filesystem::path crashMetadataURL_;
    std::shared_ptr<const TLYMetadata> currentMetadata_;
    std::optional<foundation::PropertyListDictionary> currentMetadataDictionary_;
    std::shared_ptr<const TLYCrashMetadata> crashMetadata_;
};

} // namespace kits
