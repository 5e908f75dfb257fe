// Self-pipe signal handling for the quitting signals, and the watchdog that ends a quit the event
// loop does not carry out.
#include "app/unix_signal_quitter.h"

#include "foundation/diagnostics.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace app {

namespace {

int signalPipe[2] = {-1, -1};

// What the handlers read; set on the main thread before they are installed or while SIGALRM is not
// pending, so a handler never sees them half written.
enum QuitPhase : int { running, awaitingAnswer, quitting };
volatile std::sig_atomic_t quitPhase = running;
unsigned answerLimitSeconds = 10;
std::string notAnsweredLine;
std::string quitTooLongLine;

// Signal handlers may call only async-signal-safe functions: write(), alarm() and _exit() here.
void writeToStderr(const char* text, std::size_t length)
{
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, length);
}

// Runs between any two instructions of the main thread, which may be about to read errno.
void quitSignalArrived(int signalNumber)
{
    const int savedErrno = errno;
    if (quitPhase != running) {
        static constexpr char line[] = "horavine: a second quitting signal; the program ends at once without saving\n";
        writeToStderr(line, sizeof line - 1);
        ::_exit(128 + signalNumber);
    }
    quitPhase = awaitingAnswer;
    ::alarm(answerLimitSeconds);
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

// Nothing is written to the store here: a stuck main thread may be in the middle of changing it.
void watchdogExpired(int)
{
    const std::string& line = quitPhase == quitting ? quitTooLongLine : notAnsweredLine;
    writeToStderr(line.data(), line.size());
    ::_exit(UnixSignalQuitter::watchdogExitStatus);
}

// Before the main loop runs (an alert at start-up, such as a store that cannot be opened) quit() does
// nothing, so the modal windows' own loops are ended by dismissing them.
void endModalWindows()
{
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break; // it refused to close
    }
}

} // namespace

UnixSignalQuitter::UnixSignalQuitter(std::initializer_list<int> signalNumbers, std::chrono::seconds answerLimit,
                                     QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        std::perror("horavine: signals will end the program without saving");
        return;
    }
    answerLimitSeconds = static_cast<unsigned>(std::max<std::chrono::seconds::rep>(1, answerLimit.count()));
    const std::string seconds = std::to_string(answerLimitSeconds);
    notAnsweredLine = std::string(foundation::diagnosticPrefix)
                      + "the program did not answer the quitting signal within " + seconds
                      + " s; it ends without saving, and the store keeps its last save\n";
    quitTooLongLine = std::string(foundation::diagnosticPrefix) + "quitting did not end within " + seconds
                      + " s after the store was saved; the program ends itself\n";
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        // The loop answered: the save that follows takes what it takes; the rest of the quit (closing
        // windows, joining threads) gets the limit again.
        ::alarm(0);
        unsigned char byte = 0;
        while (::read(signalPipe[1], &byte, 1) == 1)
            emit signalReceived(byte);
        const int status = quitStatus_ ? quitStatus_() : 0;
        quitPhase = quitting;
        ::alarm(answerLimitSeconds);
        endModalWindows();
        QCoreApplication::exit(status);
    });
    struct sigaction watchdog {};
    watchdog.sa_handler = watchdogExpired;
    sigemptyset(&watchdog.sa_mask);
    ::sigaction(SIGALRM, &watchdog, nullptr);
    struct sigaction action {};
    action.sa_handler = quitSignalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : signalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
}

UnixSignalQuitter::~UnixSignalQuitter() = default;

} // namespace app
