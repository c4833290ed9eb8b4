#pragma once

#include <QString>

class BenchReport;
class CpuLimit;
class MainWindow;

// The program on a machine that cannot keep up: the capture helper held to 1 % of a CPU, or the
// whole program (window and helper) to 10 %, by a CPU cgroup. A burst at full loopback speed,
// then Stop: every datagram sent must be a row or counted as dropped. Then twice Capture > Stop
// under a flood: how soon the window is Ready, how soon the helper has ended, whether a row
// comes after that.
class OverloadBench
{
public:
    enum class Held { Helper, Program };
    // percent: of one CPU; 0 for the usual 1 (helper) or 10 (program).
    OverloadBench(QString senderProgram, Held held, qint64 count, int percent = 0);

    // Adds the figures (keys overload_*) to report; false (and error()) when it could not run.
    bool run(MainWindow& window, quint16 port, BenchReport& report);
    QString error() const { return m_error; }

private:
    bool start(MainWindow& window, CpuLimit& limit);
    bool burst(MainWindow& window, CpuLimit& limit, quint16 port, BenchReport& report);
    bool stopUnderFlood(MainWindow& window, CpuLimit& limit, quint16 port, int round,
                        BenchReport& report);
    bool fail(const QString& why);

    QString m_senderProgram;
    Held m_held;
    qint64 m_count;
    int m_percent;
    QString m_error;
    qint64 m_anonPeakKib = 0;
};
