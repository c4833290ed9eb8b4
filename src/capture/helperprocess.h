#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// One run of the capture helper: started with an empty environment, its standard output and
// standard error read through pipes, its standard input a pipe we hold open and never write to,
// so that the helper sees it hang up when this process ends, however it ends.
class HelperProcess
{
public:
    HelperProcess() = default;
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;
    // Ends a helper that still runs and reaps it.
    ~HelperProcess();

    // Starts program; returns 0 or the errno of a program that could not be run.
    int start(const QString& program, const QStringList& arguments);

    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_output; }

    // Reads exactly size bytes of standard output, waiting at most timeoutMs for each part.
    // False at end of output, on timeout or on error.
    bool readOutput(char* data, qsizetype size, int timeoutMs);

    // Asks the helper to stop (SIGTERM), or ends it at once (SIGKILL).
    void terminate();
    void kill();
    // Waits for the helper to end and returns its wait status; -1 if it has not ended in time.
    int wait(int timeoutMs);
    // What the helper wrote to standard error so far (it writes little, all of it at the end).
    QByteArray errorOutput();

private:
    void closeAll();

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    int m_errors = -1;
    int m_pidfd = -1;
    int m_status = -1;
    QByteArray m_errorText;
};
