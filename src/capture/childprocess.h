#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A program started with pipes: its standard output and standard error are read here, its
// standard input is a pipe held open and never written to, so that the child sees it hang up
// when this process ends, however it ends. The capture helper runs this way (with an empty
// environment, found by its path alone), and so do the benchmark's sender and tcpdump.
class ChildProcess
{
public:
    struct Options
    {
        bool inheritEnvironment = false; // else the child gets an empty environment
        bool searchPath = false;         // a program without a slash is looked up in PATH
    };

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Ends a child that still runs and reaps it.
    ~ChildProcess();

    // Starts program; returns 0 or the errno of a program that could not be run.
    int start(const QString& program, const QStringList& arguments, Options options);
    int start(const QString& program, const QStringList& arguments)
    {
        return start(program, arguments, Options());
    }

    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_output; }

    // Reads exactly size bytes of standard output, waiting at most timeoutMs for each part.
    // False at end of output, on timeout or on error.
    bool readOutput(char* data, qsizetype size, int timeoutMs);
    // True when standard output has reached its end (the child has closed it or ended).
    bool outputEnded() const;
    // Appends what the child wrote to standardOutput() and standardError(), waiting at most
    // timeoutMs for something to arrive. Not while another thread reads outputFd().
    void read(int timeoutMs);
    const QByteArray& standardOutput() const { return m_outputText; }
    // What the child wrote to standard error so far.
    QByteArray errorOutput();
    // What the child wrote to standard error since the last take, without waiting.
    QByteArray takeErrorOutput();
    // Its standard error while it is open, else -1.
    int errorFd() const { return m_errors; }
    const QByteArray& standardError() const { return m_errorText; }

    // Signals the child while it runs: SIGTERM asks it to stop, SIGKILL ends it at once.
    void signal(int number);
    void terminate();
    void kill();
    // Waits at most timeoutMs (-1: without end) for the child to end; returns its wait status,
    // or -1 if it has not ended in time.
    int wait(int timeoutMs);
    // True once the child has ended (without blocking); its output is then read to the end.
    bool tryWait();
    // Reads the child's output to its end, then waits for it to end.
    void finish();

    bool hasEnded() const { return m_status >= 0; }
    // Its exit status, or 128 plus the signal that ended it.
    int exitCode() const;
    double cpuSeconds() const { return m_cpuSeconds; }

    // Waiting uses a pidfd where the kernel gives one; sandboxes that filter pidfd_open get a
    // wait that polls instead. Tests turn the pidfd off to take that road.
    void setUsePidfd(bool use) { m_usePidfd = use; }

private:
    bool reap(int options);
    void closeAll();

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    int m_errors = -1;
    int m_pidfd = -1;
    int m_status = -1;
    bool m_usePidfd = true;
    double m_cpuSeconds = 0;
    QByteArray m_outputText;
    QByteArray m_errorText;
};
