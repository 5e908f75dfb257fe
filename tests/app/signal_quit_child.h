// A quit by SIGTERM in a forked child, as the program carries it out: the child makes its delegate,
// answers the signal through the quitter and ends with the quit's status.
#pragma once

#include "app/app_delegate.h"
#include "app/unix_signal_quitter.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace apptest {

// The child's wait status, or -1 when no child could be started or waited for.
template <typename MakeDelegate>
int quitBySignalInChild(MakeDelegate makeDelegate)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        auto delegate = makeDelegate();
        app::UnixSignalQuitter quitter({SIGTERM});
        quitter.setQuitStatus([&delegate] { return delegate->terminateWithoutAsking(); });
        QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
        const int status = QCoreApplication::exec();
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child ? status : -1;
}

} // namespace apptest
