#include "sigpipehold.h"

#include <ctime>

namespace {

bool sigpipePending()
{
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

SigpipeHold::SigpipeHold() : m_wasPending(sigpipePending())
{
    sigemptyset(&m_pipe);
    sigaddset(&m_pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
}

SigpipeHold::~SigpipeHold()
{
    // A signal that was already pending belongs to someone else and is left alone.
    if (!m_wasPending && sigpipePending()) {
        const timespec none{};
        sigtimedwait(&m_pipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}
