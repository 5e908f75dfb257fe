// The text operations the HTML page is made with: escaping inserted values and filling placeholders
// in one pass. Qt-free; they rely on inserted values being escaped, so every "%" in a page comes from
// the templates.
#pragma once

#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace exports {

// `value` with "&", "<", ">", '"' and "'" as character references and "%" as "&#37;", so a value
// can neither become markup nor be read as a placeholder.
void appendHtmlEscaped(std::string& out, std::string_view value);
std::string htmlEscaped(std::string_view value);

// A placeholder with its percent signs ("%date%") and the text that replaces it. With `write` set, the
// text is appended by that function straight to the output instead (for a long text made while it is
// inserted, such as a project's timer rows, which would otherwise be built and then copied).
struct Placeholder {
    std::string_view text;
    std::string_view value;
    const std::function<void(std::string&)>* write = nullptr;
};

// Appends `text` to `out` with every occurrence of every placeholder replaced, in one linear pass.
// Inserted values are not scanned again; for values without "%" this is the same as replacing the
// placeholders one after another over the whole text.
void appendReplacingPlaceholders(std::string& out, std::string_view text, std::span<const Placeholder> placeholders);
inline void appendReplacingPlaceholders(std::string& out, std::string_view text,
                                        std::initializer_list<Placeholder> placeholders)
{
    appendReplacingPlaceholders(out, text, std::span<const Placeholder>(placeholders.begin(), placeholders.size()));
}
std::string replacingPlaceholders(std::string_view text, std::span<const Placeholder> placeholders);
inline std::string replacingPlaceholders(std::string_view text, std::initializer_list<Placeholder> placeholders)
{
    return replacingPlaceholders(text, std::span<const Placeholder>(placeholders.begin(), placeholders.size()));
}

} // namespace exports
