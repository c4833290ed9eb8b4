#pragma once

#include <signal.h>

// Writing to a pipe whose reader has gone raises SIGPIPE, which ends the program and loses the
// captured rows. While an object of this class lives, the calling thread holds the signal
// back, and one raised meanwhile is discarded, so the write fails with EPIPE instead.
class SigpipeHold
{
public:
    SigpipeHold();
    ~SigpipeHold();
    SigpipeHold(const SigpipeHold&) = delete;
    SigpipeHold& operator=(const SigpipeHold&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_wasPending = false;
};
