// One instance per store: the first launch listens on a local socket named after the user and the
// store; a later launch hands it "reopen" and ends. The socket lives in the abstract namespace, so
// nothing is written to disk and a crashed instance leaves nothing stale behind.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <filesystem>

namespace app {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    static QString serverName(const std::filesystem::path& storePath);

    // Hands "reopen" to the instance listening on `name`; false when none answers.
    static bool handToRunningInstance(const QString& name);

    // Starts answering later launches; false when the name cannot be taken.
    bool listen(const QString& name);

signals:
    void reopenRequested();

private:
    QLocalServer server_;
};

} // namespace app
