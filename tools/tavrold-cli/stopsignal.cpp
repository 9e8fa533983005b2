#include "stopsignal.h"

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void noteStop(int)
{
    stopRequested = 1;
}

} // namespace

namespace StopSignal {

void install()
{
#ifdef Q_OS_WIN
    std::signal(SIGINT, noteStop);
    std::signal(SIGTERM, noteStop);
#else
    struct sigaction action
    {
    };
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a waiting poll() or sleep returns early
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    action.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &action, nullptr);
#endif
}

bool requested()
{
    return stopRequested != 0;
}

bool sleep(int msecs)
{
    const QDeadlineTimer deadline(msecs > 0 ? msecs : 0, Qt::PreciseTimer);
    while (!requested()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return true;
        QThread::msleep(static_cast<unsigned long>(left < SliceMs ? left : SliceMs));
    }
    return false;
}

} // namespace StopSignal
