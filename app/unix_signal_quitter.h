// Turns SIGTERM, SIGINT and SIGHUP into a normal quit of the event loop, so that the store is saved
// as at any other quit. The signal handler only writes to a pipe; the event loop does the rest: it
// asks the quit-status function (which saves, or keeps the changes in a recovery file) and ends the
// loop with the status it returns.
#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

namespace app {

class UnixSignalQuitter : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalQuitter(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~UnixSignalQuitter() override;

    // Runs on the main thread when a signal arrived, before the loop ends; its result is the exit
    // status the event loop ends with (0 without one).
    void setQuitStatus(std::function<int()> quitStatus) { quitStatus_ = std::move(quitStatus); }

signals:
    void signalReceived(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<int()> quitStatus_;
};

} // namespace app
