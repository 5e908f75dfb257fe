// The application's information dictionary: its version, copyright and the links the application
// menu opens, carried as built-in data in this one place.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace app {

using InfoValue = std::variant<std::string, double>;
using InfoDictionary = std::map<std::string, InfoValue, std::less<>>;

const InfoDictionary& infoDictionary();

// The text under `key`; nullptr when the key is missing or holds no text.
const std::string* infoString(const InfoDictionary& dictionary, std::string_view key);

} // namespace app
