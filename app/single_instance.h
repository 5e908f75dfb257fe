// One instance per store: the first launch listens on a local socket named after the store's
// canonical path; a later launch hands it "reopen" and ends. The socket lives in a folder only this
// user can enter ($XDG_RUNTIME_DIR, else a private folder under the cache directory), and both ends
// check that the other is the same user, so another user's socket never ends a launch. The store's
// lock, not this socket, decides who owns the store.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>

namespace app {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket path for `storePath`; the same for every path that leads to the same file
    // (symbolic links, "..", relative paths). Creates the private folder when it is missing.
    static QString serverName(const std::filesystem::path& storePath);
    // The folder the sockets live in: $XDG_RUNTIME_DIR when it is a folder of this user that
    // nobody else may enter, else $XDG_CACHE_HOME (or ~/.cache)/horavine/instances made private.
    // Nothing when no such folder can be had.
    static std::optional<std::filesystem::path> socketFolder();

    // Hands "reopen" to the instance listening on `name`; false when none answers or when the
    // listener is not run by this user.
    static bool handToRunningInstance(const QString& name);

    // Starts answering later launches; a stale socket (or one another user left in our folder) is
    // replaced. False when the name cannot be taken.
    bool listen(const QString& name);

signals:
    void reopenRequested();

private:
    QLocalServer server_;
};

} // namespace app
