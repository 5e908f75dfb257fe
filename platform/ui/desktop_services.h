// Handing files and links to the desktop: opening them with their default application, and showing a
// file selected in the file manager through the freedesktop file-manager call on the session bus.
// Controllers hold a DesktopServices value so that tests can put recorders in place of the desktop.
#pragma once

#include <QUrl>

#include <functional>

class QDBusConnection;

namespace ui {

// Hands a link to something that opens it; false when nothing on the system could take it.
using LinkOpener = std::function<bool(const QUrl&)>;

// Hands `link` to the desktop's default handler for its kind (a folder opens in the file manager);
// false when there is none to start.
bool openWithDesktop(const QUrl& link);

// Asks the file manager on `bus` (org.freedesktop.FileManager1, ShowItems) to open the folder of the
// local file `file` with the file selected. The call does not block: where no file manager answers
// (none registered, an error, no bus), `openFolder` gets the containing folder instead, later.
void revealInFileManager(const QUrl& file, const QDBusConnection& bus, LinkOpener openFolder = openWithDesktop);
// The same on the session bus.
void revealInFileManager(const QUrl& file, LinkOpener openFolder = openWithDesktop);

// The folder a file manager would show for `file`: the local file's parent folder, as a file URL.
QUrl containingFolder(const QUrl& file);

struct DesktopServices {
    LinkOpener open = openWithDesktop;
    std::function<void(const QUrl& file)> reveal = [](const QUrl& file) { revealInFileManager(file); };
};

} // namespace ui
