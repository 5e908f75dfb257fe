// JSON through nlohmann-json: a SAX reader builds the value with its own stack (depth-bounded), and
// the writer goes through an ordered JSON document dumped with invalid UTF-8 replaced.
#include "foundation/property_list_json.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <limits>

namespace foundation {

namespace {

using json = nlohmann::ordered_json;

// Builds one value from parser events. Each open container sits on `open_` until its end event
// hands it to its parent (or makes it the result).
class ValueBuilder final : public nlohmann::json_sax<json> {
public:
    std::optional<PropertyListValue> result;
    std::string error;

    bool null() override { return add(PropertyListNull{}); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(static_cast<std::int64_t>(value)); }
    bool number_unsigned(number_unsigned_t value) override
    {
        if (value > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max()))
            return add(static_cast<double>(value));
        return add(static_cast<std::int64_t>(value));
    }
    bool number_float(number_float_t value, const string_t&) override { return add(static_cast<double>(value)); }
    bool string(string_t& value) override { return add(std::move(value)); }
    bool binary(binary_t&) override
    {
        error = "binary values are not JSON";
        return false;
    }
    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t& value) override
    {
        open_.back().pendingKey = std::move(value);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& exception) override
    {
        error = exception.what();
        return false;
    }

private:
    // An object gathers entries and becomes a dictionary when it ends (linear even for huge objects).
    struct OpenContainer {
        bool isObject = false;
        PropertyListArray elements;
        std::vector<PropertyListEntry> entries;
        std::string pendingKey;
    };

    bool open(bool isObject)
    {
        if (open_.size() >= maximumPropertyListDepth) {
            error = "nested deeper than " + std::to_string(maximumPropertyListDepth) + " levels";
            return false;
        }
        open_.push_back({isObject, {}, {}, {}});
        return true;
    }

    bool close()
    {
        OpenContainer finished = std::move(open_.back());
        open_.pop_back();
        if (finished.isObject)
            return add(PropertyListDictionary::fromEntries(std::move(finished.entries)));
        return add(std::move(finished.elements));
    }

    bool add(PropertyListValue value)
    {
        if (open_.empty()) {
            result = std::move(value);
            return true;
        }
        OpenContainer& parent = open_.back();
        if (parent.isObject)
            parent.entries.push_back({std::move(parent.pendingKey), std::move(value)});
        else
            parent.elements.push_back(std::move(value));
        return true;
    }

    std::vector<OpenContainer> open_;
};

std::string base64(const PropertyListData& data)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t index = 0; index < data.size(); index += 3) {
        const std::size_t count = std::min<std::size_t>(3, data.size() - index);
        std::uint32_t group = std::uint32_t(data[index]) << 16;
        if (count > 1)
            group |= std::uint32_t(data[index + 1]) << 8;
        if (count > 2)
            group |= data[index + 2];
        for (std::size_t digit = 0; digit < 4; ++digit)
            text += digit <= count ? alphabet[(group >> (18 - 6 * digit)) & 0x3f] : '=';
    }
    return text;
}

std::string isoText(PropertyListDate date)
{
    using namespace std::chrono;
    const auto day = floor<days>(date);
    const year_month_day calendarDay{day};
    const hh_mm_ss time{date - day};
    char text[64];
    const auto micros = time.subseconds().count();
    if (micros == 0)
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", int(calendarDay.year()),
                      unsigned(calendarDay.month()), unsigned(calendarDay.day()), long(time.hours().count()),
                      long(time.minutes().count()), long(time.seconds().count()));
    else
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%06ldZ", int(calendarDay.year()),
                      unsigned(calendarDay.month()), unsigned(calendarDay.day()), long(time.hours().count()),
                      long(time.minutes().count()), long(time.seconds().count()), long(micros));
    return text;
}

json toJSON(const PropertyListValue& value)
{
    return std::visit(
        [](const auto& held) -> json {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, PropertyListNull>)
                return nullptr;
            else if constexpr (std::is_same_v<T, double>)
                return std::isfinite(held) ? json(held) : json(nullptr);
            else if constexpr (std::is_same_v<T, PropertyListData>)
                return base64(held);
            else if constexpr (std::is_same_v<T, PropertyListDate>)
                return isoText(held);
            else if constexpr (std::is_same_v<T, PropertyListArray>) {
                json array = json::array();
                for (const auto& element : held)
                    array.push_back(toJSON(element));
                return array;
            } else if constexpr (std::is_same_v<T, PropertyListDictionary>) {
                json object = json::object();
                for (const auto& entry : held.entries())
                    object[entry.key] = toJSON(entry.value);
                return object;
            } else
                return held;
        },
        value.storage());
}

} // namespace

PropertyListResult<PropertyListValue> propertyListFromJSON(std::string_view text)
{
    ValueBuilder builder;
    bool parsed = false;
    try {
        parsed = json::sax_parse(text.begin(), text.end(), &builder);
    } catch (const std::exception& exception) { // the library's own misuse checks; never expected
        return PropertyListResult<PropertyListValue>::failure(exception.what());
    }
    if (!parsed || !builder.result)
        return PropertyListResult<PropertyListValue>::failure(builder.error.empty() ? "malformed JSON" : builder.error);
    return {std::move(builder.result), {}};
}

std::string jsonFromPropertyList(const PropertyListValue& value)
{
    try {
        return toJSON(value).dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) { // only allocation can fail here
        return "null";
    }
}

} // namespace foundation
