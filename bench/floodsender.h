#pragma once

#include "childprocess.h"

#include <QString>

// The sender process (kinto_udpflood) and what it reported when it had sent everything.
class FloodSender
{
public:
    struct Result
    {
        bool ok = false;
        qint64 sent = 0;
        double seconds = 0;
        double rate = 0; // datagrams per second
        qint64 lastSendNs = 0;
        QString error;
    };

    explicit FloodSender(QString program) : m_program(std::move(program)) {}

    bool start(quint16 port, qint64 count);
    // Non-blocking; true once the sender has ended and result() is complete.
    bool tryFinish();
    // Blocks until the sender has ended.
    const Result& finish();
    const Result& result() const { return m_result; }
    qint64 pid() const { return m_process.pid(); }

private:
    void collect();

    QString m_program;
    ChildProcess m_process;
    Result m_result;
};
