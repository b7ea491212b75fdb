#include "headless/StopSignals.h"

#include "util/StopFlag.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace zp {

#ifdef Q_OS_UNIX
namespace {
int g_signalPipe[2] = { -1, -1 };

extern "C" void forwardStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

void setStopSignalsBlocked(bool blocked)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

void installHandler(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}
} // namespace
#endif

void HoldStopSignals()
{
#ifdef Q_OS_UNIX
    setStopSignalsBlocked(true);
#endif
}

StopSignals::StopSignals(StopFlag& flag, QObject* parent)
    : QObject(parent)
    , m_flag(flag)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    for (int fd : g_signalPipe)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::drain);
    installHandler(SIGINT, forwardStopSignal);
    installHandler(SIGTERM, forwardStopSignal);
    setStopSignalsBlocked(false); // one held back since start-up arrives now
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    if (!m_notifier)
        return;
    installHandler(SIGINT, SIG_DFL);
    installHandler(SIGTERM, SIG_DFL);
    delete m_notifier;
    for (int& fd : g_signalPipe) {
        ::close(fd);
        fd = -1;
    }
#endif
}

int StopSignals::pendingSignalFd() const
{
#ifdef Q_OS_UNIX
    return m_notifier ? g_signalPipe[0] : -1;
#else
    return -1;
#endif
}

void StopSignals::drain()
{
#ifdef Q_OS_UNIX
    char buffer[64];
    while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) { }
#endif
    m_flag.set();
}

} // namespace zp
