// Turns SIGTERM, SIGINT and SIGHUP into a normal quit of the event loop, so that the store is saved
// as at any other quit. The signal handler only writes to a pipe; the event loop does the rest: it
// asks the quit-status function (which saves, or keeps the changes in a recovery file) and ends the
// loop with the status it returns. A quit by signal always ends the process: when the event loop
// does not answer within the answer limit (it is stuck), or the quit that follows its answer takes as
// long again, the process ends itself with watchdogExitStatus and one line on stderr, writing nothing;
// a second quitting signal ends it at once with 128 + the signal's number.
#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

namespace app {

class UnixSignalQuitter : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds defaultAnswerLimit{10};
    static constexpr int watchdogExitStatus = 3;

    // Installs the handlers; one quitter per process. The watchdog runs on SIGALRM (alarm()), which
    // nothing else in the program uses.
    explicit UnixSignalQuitter(std::initializer_list<int> signalNumbers,
                               std::chrono::seconds answerLimit = defaultAnswerLimit, QObject* parent = nullptr);
    ~UnixSignalQuitter() override;

    // Runs on the main thread when a signal arrived, before the loop ends; its result is the exit
    // status the event loop ends with (0 without one). The watchdog waits while it runs.
    void setQuitStatus(std::function<int()> quitStatus) { quitStatus_ = std::move(quitStatus); }

signals:
    void signalReceived(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<int()> quitStatus_;
};

} // namespace app
