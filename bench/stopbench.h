#pragma once

#include <QString>

class BenchReport;
class MainWindow;

// Capture > Stop while a flood arrives at full speed on the watched port: how long until the
// window shows the state Ready, how long it could not answer meanwhile, when the helper has
// ended, and whether the rows the capture added are exactly what the helper counted.
class StopBench
{
public:
    explicit StopBench(QString senderProgram) : m_senderProgram(std::move(senderProgram)) {}

    // Adds the figures (keys stop_load_*) to report; false (and error()) when it could not run.
    bool run(MainWindow& window, quint16 port, BenchReport& report);
    QString error() const { return m_error; }

private:
    bool fail(const QString& why);

    QString m_senderProgram;
    QString m_error;
};
