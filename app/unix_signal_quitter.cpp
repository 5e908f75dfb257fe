// Self-pipe signal handling for the quitting signals.
#include "app/unix_signal_quitter.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace app {

namespace {

int signalPipe[2] = {-1, -1};

// Runs between any two instructions of the main thread, which may be about to read errno.
void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
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

UnixSignalQuitter::UnixSignalQuitter(std::initializer_list<int> signalNumbers, QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        std::perror("horavine: signals will end the program without saving");
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(signalPipe[1], &byte, 1) == 1)
            emit signalReceived(byte);
        const int status = quitStatus_ ? quitStatus_() : 0;
        endModalWindows();
        QCoreApplication::exit(status);
    });
    struct sigaction action {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : signalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
}

UnixSignalQuitter::~UnixSignalQuitter() = default;

} // namespace app
