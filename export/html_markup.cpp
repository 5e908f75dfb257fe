// Escaping and one-pass placeholder filling for the HTML page.
#include "export/html_markup.h"

#include <algorithm>

namespace exports {

void appendHtmlEscaped(std::string& out, std::string_view value)
{
    std::size_t start = 0;
    for (std::size_t index = 0; index < value.size(); ++index) {
        std::string_view reference;
        switch (value[index]) {
        case '&': reference = "&amp;"; break;
        case '<': reference = "&lt;"; break;
        case '>': reference = "&gt;"; break;
        case '"': reference = "&quot;"; break;
        case '\'': reference = "&#39;"; break;
        case '%': reference = "&#37;"; break;
        default: continue;
        }
        out.append(value.substr(start, index - start)).append(reference);
        start = index + 1;
    }
    out.append(value.substr(start));
}

std::string htmlEscaped(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    appendHtmlEscaped(out, value);
    return out;
}

void appendReplacingPlaceholders(std::string& out, std::string_view text, std::span<const Placeholder> placeholders)
{
    std::size_t copied = 0;
    std::size_t at = text.find('%');
    while (at != std::string_view::npos) {
        const std::string_view rest = text.substr(at);
        const auto match =
            std::find_if(placeholders.begin(), placeholders.end(),
                         [rest](const Placeholder& placeholder) { return rest.starts_with(placeholder.text); });
        if (match == placeholders.end()) {
            // This "%" starts no placeholder; the next one may.
            at = text.find('%', at + 1);
            continue;
        }
        out.append(text.substr(copied, at - copied));
        if (match->write)
            (*match->write)(out);
        else
            out.append(match->value);
        copied = at + match->text.size();
        at = text.find('%', copied);
    }
    out.append(text.substr(copied));
}

std::string replacingPlaceholders(std::string_view text, std::span<const Placeholder> placeholders)
{
    std::string out;
    out.reserve(text.size());
    appendReplacingPlaceholders(out, text, placeholders);
    return out;
}

} // namespace exports
