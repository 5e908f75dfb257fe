// Attribute validation. Texts are UTF-8 here but limits count UTF-16 units, as the upload service
// does; a cut never splits a surrogate pair, and invalid UTF-8 becomes U+FFFD, so every stored text
// serialises as it was counted.

#include "kits/analytics/tly_attribute_dictionary.h"

#include "foundation/property_list_json.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_value_description.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kits {

namespace {

constexpr const char* replacementCharacter = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `at`, or 0 when the bytes there are not one.
std::size_t sequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t index = 2; index < length; ++index)
        if (byte(at + index) < 0x80 || byte(at + index) > 0xBF)
            return 0;
    return length;
}

} // namespace

TLYAttributeDictionary::TLYAttributeDictionary(const std::optional<foundation::PropertyListDictionary>& dictionary)
{
    if (!dictionary)
        return;
    for (const auto& entry : dictionary->entries())
        addAttribute(entry.value, entry.key);
}

void TLYAttributeDictionary::addAttribute(const std::optional<foundation::PropertyListValue>& value,
                                          const std::optional<std::string>& key)
{
    if (!value || !key)
        return;
    const auto describe = [&] { return *key + ":" + KSTValueDescription(*value); };
    if (!hasRoom(describe))
        return;
    if (const std::string* text = value->get<std::string>()) {
        const TLYAttributeValue truncated(truncateString(*text));
        store(truncateString(*key), &truncated);
    } else if (const bool* flag = value->get<bool>()) {
        const TLYAttributeValue number(*flag);
        store(truncateString(*key), &number);
    } else if (const std::int64_t* integer = value->get<std::int64_t>()) {
        const TLYAttributeValue number(*integer);
        store(truncateString(*key), &number);
    } else if (const double* real = value->get<double>()) {
        // Non-finite reals act as the decimal not-a-number: JSON cannot hold them.
        const TLYAttributeValue number(*real);
        store(truncateString(*key), std::isfinite(*real) ? &number : nullptr);
    } else
        kitLog("[Tally] Event attribute values must be of type NSString or NSNumber. Ignoring entry " + describe());
}

bool TLYAttributeDictionary::hasRoom(const std::function<std::string()>& describeEntry) const
{
    if (entries_.size() < maximumEntries)
        return true;
    kitLog("[Tally] Maximum number of Event attributes exceeded. Ignoring entry " + describeEntry());
    return false;
}

void TLYAttributeDictionary::addBooleanAttribute(std::optional<bool> value, const std::optional<std::string>& key)
{
    if (!value || !key)
        return;
    addAttribute(foundation::PropertyListValue(serializeSuccess(*value)), truncateString(*key));
}

// A price goes the way of any number once it is in micros.
void TLYAttributeDictionary::addPriceAttribute(const std::optional<foundation::Decimal>& price,
                                               const std::optional<std::string>& key)
{
    if (!price)
        return;
    const auto micros = serializePriceToMicros(*price);
    if (!micros) {
        kitLog("[Tally] Maximum value for a price attribute exceeded. Ignoring price attribute with value: "
               + price->toString());
        return;
    }
    if (!key || !hasRoom([&] { return *key + ":" + micros->toString(); }))
        return;
    const TLYAttributeValue number(*micros);
    store(truncateString(*key), &number);
}

void TLYAttributeDictionary::store(const std::string& key, const TLYAttributeValue* value)
{
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (entry->key != key)
            continue;
        if (value)
            entry->value = *value;
        else
            entries_.erase(entry);
        return;
    }
    if (value)
        entries_.push_back({key, *value});
}

const TLYAttributeValue* TLYAttributeDictionary::find(std::string_view key) const
{
    for (const auto& entry : entries_)
        if (entry.key == key)
            return &entry.value;
    return nullptr;
}

std::string TLYAttributeDictionary::truncateString(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    std::size_t units = 0;
    bool cut = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        const std::size_t sequenceUnits = length == 4 ? 2 : 1;
        if (units + sequenceUnits > maximumLength) {
            cut = true;
            break;
        }
        units += sequenceUnits;
        if (length == 0) {
            result += replacementCharacter;
            ++at;
        } else {
            result.append(text, at, length);
            at += length;
        }
    }
    // A pair that would straddle the limit is dropped whole; the text is still longer than the limit.
    if (cut)
        kitLog("[Tally] Maximum length for an Event attributes exceeded. Truncating to " + std::to_string(maximumLength)
               + " characters.");
    return result;
}

std::string TLYAttributeDictionary::serializeSuccess(bool success)
{
    return success ? "true" : "false";
}

std::optional<foundation::Decimal> TLYAttributeDictionary::serializePriceToMicros(const foundation::Decimal& price)
{
    static const foundation::Decimal limit = *foundation::Decimal::parse("99999999999999999999999999999999.999999");
    if (price > limit)
        return std::nullopt;
    return price.multiplying(foundation::Decimal(1000000));
}

foundation::PropertyListValue TLYAttributeDictionary::serializeNumber(const foundation::Decimal& number)
{
    if (number.rounded(0) == number) {
        const std::string text = number.toString();
        std::int64_t integer = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), integer);
        if (error == std::errc() && end == text.data() + text.size())
            return integer;
    }
    return number.toDouble();
}

foundation::PropertyListDictionary TLYAttributeDictionary::dictionaryRepresentation() const
{
    std::vector<foundation::PropertyListEntry> entries;
    entries.reserve(entries_.size());
    for (const auto& entry : entries_) {
        foundation::PropertyListValue value = std::visit(
            [](const auto& held) -> foundation::PropertyListValue {
                using T = std::decay_t<decltype(held)>;
                if constexpr (std::is_same_v<T, foundation::Decimal>)
                    return serializeNumber(held);
                else
                    return held;
            },
            entry.value);
        entries.push_back({entry.key, std::move(value)});
    }
    return foundation::PropertyListDictionary::fromEntries(std::move(entries));
}

std::string TLYAttributeDictionary::description() const
{
    return foundation::jsonFromPropertyList(dictionaryRepresentation());
}

} // namespace kits
