// The page template, the project and timer fragments and the style sheet of the HTML export, compiled
// into the export library from resources/ and read once per process.
#pragma once

#include <string>

namespace exports {

struct HtmlTemplates {
    std::string page;    // "%css%" in the head's style element, "%projects%" in the body
    std::string project; // one project's block with its table and "%timers%"
    std::string timer;   // one timer's row
    std::string css;

    // Read on first use (thread-safe) and kept; a resource that cannot be read is the empty text.
    static const HtmlTemplates& shared();
};

} // namespace exports
