// What the first line of every event log says about the run: the application, the host and the kit
// session (TLYMetadata, collected once per process), and the previous run's payload kept in a small
// JSON file between launches (TLYCrashMetadata), so its crash is written against the run that crashed.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

class Keystone;

// What a log's metadata line is made from.
class TLYMetadataSerializable {
public:
    virtual ~TLYMetadataSerializable() = default;
    // The name column of the metadata line: "metadata".
    virtual std::string eventName() const;
    // The payload with "started_at" = `startTime` (whole seconds since 1970); nothing when there is
    // none, so no metadata line can be formed.
    virtual std::optional<foundation::PropertyListDictionary>
    dictionaryRepresentationWithStartTime(std::uint64_t startTime) const = 0;
};

class TLYMetadata final : public TLYMetadataSerializable {
public:
    // Every source; an absent text leaves its key out of the payload.
    struct Fields {
        std::optional<std::string> APIKey;
        std::optional<std::string> betaToken; // already unwrapped
        std::optional<std::string> buildVersion;
        std::optional<std::string> bundleIdentifier;
        std::optional<std::string> displayVersion;
        std::optional<std::string> executionIdentifier;
        std::optional<std::string> hostModel;
        std::optional<std::string> installationId;
        std::optional<std::string> instanceIdentifier;
        bool isJailbroken = false;
        std::optional<std::string> locale;
        std::uint32_t numberOfCores = 0;
        std::optional<std::string> OSBuildVersion;
        std::optional<std::string> OSDisplayVersion;
        std::string platform = "Mac";
    };

    explicit TLYMetadata(Fields fields);
    // From the kit platform, the main bundle, the host and the environment's locale.
    static TLYMetadata initWithKeystone(Keystone& keystone, const std::optional<std::string>& betaToken);

    // "2:<token>" gives <token>; anything else (no ":", another prefix, more than one ":") nothing.
    static std::optional<std::string> unwrapBetaToken(const std::optional<std::string>& token);
    static bool computeIsJailbroken() { return false; }

    const Fields& fields() const { return fields_; }
    std::uint64_t platformCode() const { return 0; }
    std::optional<std::string> identifierForAdvertising() const { return std::nullopt; }
    bool trackingForAdvertisingEnabled() const { return false; }
    bool advertisingSupportFrameworkLinked() const { return false; }

    std::optional<foundation::PropertyListDictionary>
    dictionaryRepresentationWithStartTime(std::uint64_t startTime) const override;

private:
    Fields fields_;
};

// The previous run's payload; its start time is the one it was written with.
class TLYCrashMetadata final : public TLYMetadataSerializable {
public:
    explicit TLYCrashMetadata(std::optional<foundation::PropertyListDictionary> dictionary);

    const std::optional<foundation::PropertyListDictionary>& rawMetadataDictionary() const { return dictionary_; }
    // The stored dictionary unchanged, whatever the argument.
    std::optional<foundation::PropertyListDictionary>
    dictionaryRepresentationWithStartTime(std::uint64_t startTime) const override;

    // A JSON object's dictionary; nothing for any other text.
    static std::optional<foundation::PropertyListDictionary> dictionaryFromSerializedData(std::string_view bytes);
    // The file's JSON object; nothing when it cannot be read, does not parse or is no object.
    static std::optional<foundation::PropertyListDictionary>
    readSerializedDictionaryFromURL(const std::filesystem::path& url);
    // Compact JSON written to a temporary file and renamed over `url`; whether that succeeded.
    static bool writeSerializedDictionary(const foundation::PropertyListDictionary& dictionary,
                                          const std::filesystem::path& url);

private:
    std::optional<foundation::PropertyListDictionary> dictionary_;
};

} // namespace kits
