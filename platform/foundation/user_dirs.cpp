// Reading user-dirs.dirs, the file desktops use to name the user's special folders.
#include "foundation/user_dirs.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace foundation {

namespace {

std::string_view trimmedStart(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// The value after '=': a quoted value ends at its closing quote, a bare one at the line's end.
std::optional<std::string> unquote(std::string_view value)
{
    std::string result;
    const bool quoted = !value.empty() && value.front() == '"';
    if (quoted)
        value.remove_prefix(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted && c == '"')
            return result;
        if (c == '\\' && i + 1 < value.size())
            result += value[++i];
        else
            result += c;
    }
    if (quoted)
        return std::nullopt; // no closing quote
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t' || result.back() == '\r'))
        result.pop_back();
    return result;
}

} // namespace

std::optional<std::filesystem::path> userDirFromConfig(std::string_view text, std::string_view key,
                                                       const std::filesystem::path& home)
{
    std::optional<std::filesystem::path> found;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = trimmedStart(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.substr(0, key.size()) != key)
            continue;
        line = trimmedStart(line.substr(key.size()));
        if (line.empty() || line.front() != '=')
            continue;
        const auto value = unquote(trimmedStart(line.substr(1)));
        if (!value)
            continue;
        if (*value == "$HOME")
            found = home;
        else if (value->rfind("$HOME/", 0) == 0)
            found = home / value->substr(6);
        else if (!value->empty() && value->front() == '/')
            found = std::filesystem::path(*value);
        // Anything else (a relative path, another variable) is not a valid entry.
    }
    return found;
}

std::filesystem::path documentsFolder()
{
    if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents && *documents)
        return documents;
    const char* homeVariable = std::getenv("HOME");
    if (!homeVariable || !*homeVariable)
        return std::filesystem::current_path();
    const std::filesystem::path home = homeVariable;
    std::filesystem::path config = home / ".config";
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME"); configHome && *configHome == '/')
        config = configHome;
    std::ifstream file(config / "user-dirs.dirs");
    if (file) {
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (auto folder = userDirFromConfig(text, "XDG_DOCUMENTS_DIR", home))
            return *folder;
    }
    return home / "Documents";
}

} // namespace foundation
