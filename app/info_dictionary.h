// The application's information dictionary: its identity and version, copyright, the links the
// application menu opens and the kits' configuration, carried as built-in data in this one place.
// app/kits.cpp hands the same dictionary to the kits.
#pragma once

#include <string>
#include <string_view>

namespace foundation {
class PropertyListDictionary; // foundation/property_list.h; kept out of headers that moc reads
}

namespace app {

using InfoDictionary = foundation::PropertyListDictionary;

const InfoDictionary& infoDictionary();

// The text under `key`; nullptr when the key is missing or holds no text.
const std::string* infoString(const InfoDictionary& dictionary, std::string_view key);

} // namespace app
