#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A program the benchmark starts, reads and ends itself: the sender and tcpdump. Unlike
// QProcess it reports the child's CPU time, which the reference figures need.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with arguments, its stdout and stderr going to pipes read here.
    bool start(const QString& program, const QStringList& arguments);
    // Reads what the child wrote, waiting at most timeoutMs for something to arrive.
    void read(int timeoutMs);
    // Signals this child only; it must have been started and not yet waited for.
    void signal(int number);
    // True once the child has ended; does not block.
    bool tryWait();
    // Blocks until the child has ended and its output is read to the end.
    void wait();

    bool hasEnded() const { return m_pid < 0 && m_ended; }
    int exitCode() const { return m_exitCode; }
    double cpuSeconds() const { return m_cpuSeconds; }
    const QByteArray& standardOutput() const { return m_out; }
    const QByteArray& standardError() const { return m_err; }
    QString error() const { return m_error; }

private:
    bool reap(int options);
    void closePipes();

    pid_t m_pid = -1;
    bool m_ended = false;
    int m_outFd = -1;
    int m_errFd = -1;
    int m_exitCode = -1;
    double m_cpuSeconds = 0;
    QByteArray m_out;
    QByteArray m_err;
    QString m_error;
};
