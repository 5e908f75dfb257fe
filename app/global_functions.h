// Free functions the interface shares: a delayed call on the main thread and opening a link that the
// information dictionary configures.
#pragma once

#include "app/info_dictionary.h"

#include "ui/desktop_services.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QUrl;

namespace app {

// Runs `closure` once on the main thread, at least `seconds` from now (zero or less: the next turn
// of the main event loop). Callable from any thread; needs a QCoreApplication.
void delay(double seconds, std::function<void()> closure);

// The link a text makes, unchanged: nothing when it is not a valid link or has no scheme.
std::optional<QUrl> linkFromText(std::string_view text);

// Hands a link to something that opens it (platform/ui's, shared with the inspectors).
using ui::LinkOpener;
using ui::openWithDesktop;
// Opens the link under `key` of `dictionary` with `open`; false (and nothing opened) when the key is
// missing, holds no text, or the text is no link with a scheme. True once the link was handed over,
// whatever `open` answered.
bool openURL(std::string_view infoDictionaryKey, const InfoDictionary& dictionary, const LinkOpener& open);
// The same with the built-in dictionary and the desktop's default handlers.
bool openURL(std::string_view infoDictionaryKey);

} // namespace app
