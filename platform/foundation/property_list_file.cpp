// Property-list files: written through libplist's C interface (the one libplist++ wraps: its
// structures copy a node on every insertion and only take dictionaries and arrays as roots), read by
// our own readers (property_list_readers.h says why).
#include "foundation/property_list_file.h"

#include "foundation/property_list_readers.h"

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace foundation {

namespace {

struct NodeFree {
    void operator()(void* node) const { plist_free(node); }
};
using NodeHandle = std::unique_ptr<void, NodeFree>;

using detail::referenceDateSeconds;

struct Writer {
    std::string error;

    NodeHandle convert(const PropertyListValue& value)
    {
        return std::visit([this](const auto& held) { return make(held); }, value.storage());
    }

    NodeHandle make(const PropertyListNull&) { return fail("a property-list file cannot hold null"); }
    NodeHandle make(bool value) { return NodeHandle(plist_new_bool(value ? 1 : 0)); }
    NodeHandle make(std::int64_t value) { return NodeHandle(plist_new_uint(static_cast<std::uint64_t>(value))); }
    NodeHandle make(double value) { return NodeHandle(plist_new_real(value)); }
    NodeHandle make(const std::string& value)
    {
        if (value.find('\0') != std::string::npos)
            return fail("a property-list string cannot hold a NUL character");
        return NodeHandle(plist_new_string(value.c_str()));
    }
    NodeHandle make(const PropertyListData& value)
    {
        return NodeHandle(plist_new_data(reinterpret_cast<const char*>(value.data()), value.size()));
    }
    NodeHandle make(const PropertyListDate& value)
    {
        const auto micros = value.time_since_epoch().count() - referenceDateSeconds * 1'000'000;
        auto seconds = micros / 1'000'000;
        auto remainder = micros % 1'000'000;
        if (remainder < 0) {
            remainder += 1'000'000;
            seconds -= 1;
        }
        if (seconds < std::numeric_limits<std::int32_t>::min() || seconds > std::numeric_limits<std::int32_t>::max())
            return fail("the date lies outside what a property-list file can hold");
        return NodeHandle(plist_new_date(static_cast<std::int32_t>(seconds), static_cast<std::int32_t>(remainder)));
    }
    NodeHandle make(const PropertyListArray& value)
    {
        NodeHandle array(plist_new_array());
        for (const auto& element : value) {
            NodeHandle node = convert(element);
            if (!node)
                return nullptr;
            plist_array_append_item(array.get(), node.release());
        }
        return array;
    }
    NodeHandle make(const PropertyListDictionary& value)
    {
        NodeHandle dictionary(plist_new_dict());
        for (const auto& entry : value.entries()) {
            NodeHandle node = convert(entry.value);
            if (!node)
                return nullptr;
            plist_dict_set_item(dictionary.get(), entry.key.c_str(), node.release());
        }
        return dictionary;
    }

    NodeHandle fail(std::string reason)
    {
        error = std::move(reason);
        return nullptr;
    }
};

} // namespace

PropertyListResult<PropertyListValue> propertyListFromBytes(std::span<const std::uint8_t> bytes)
{
    return propertyListFromBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

PropertyListResult<PropertyListValue> propertyListFromBytes(std::string_view bytes)
{
    if (bytes.substr(0, 6) == "bplist")
        return detail::readBinaryPropertyList(bytes);
    return detail::readXMLPropertyList(bytes);
}

PropertyListResult<std::string> xmlPropertyList(const PropertyListValue& value)
{
    Writer writer;
    NodeHandle root = writer.convert(value);
    if (!root)
        return PropertyListResult<std::string>::failure(writer.error);
    char* text = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &text, &length);
    if (!text)
        return PropertyListResult<std::string>::failure("the property list could not be written");
    std::string xml(text, length);
    plist_to_xml_free(text);
    return {std::move(xml), {}};
}

PropertyListResult<std::string> binaryPropertyList(const PropertyListValue& value)
{
    Writer writer;
    NodeHandle root = writer.convert(value);
    if (!root)
        return PropertyListResult<std::string>::failure(writer.error);
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    if (!bytes)
        return PropertyListResult<std::string>::failure("the property list could not be written");
    std::string binary(bytes, length);
    plist_to_bin_free(bytes);
    return {std::move(binary), {}};
}

} // namespace foundation
