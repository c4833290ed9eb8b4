#include "stopsignals.h"

#include <csignal>
#include <initializer_list>
#include <sys/signalfd.h>
#include <unistd.h>

StopSignals::~StopSignals()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool StopSignals::open(pid_t window)
{
    m_window = window;
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stops, signal);
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0)
        return false;
    m_fd = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    return m_fd >= 0;
}

bool StopSignals::take()
{
    signalfd_siginfo info;
    while (::read(m_fd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (!m_stopped)
            m_fromWindow = info.ssi_signo == SIGTERM && pid_t(info.ssi_pid) == m_window;
        m_stopped = true;
    }
    return m_stopped;
}
