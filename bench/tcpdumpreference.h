#pragma once

#include <QString>

// The same burst captured by tcpdump into /dev/null with the same filter, run right after the
// window's burst: a reference taken on the same machine at the same moment.
class TcpdumpReference
{
public:
    struct Result
    {
        bool ok = false;
        qint64 captured = 0;
        qint64 received = 0; // "received by filter"
        qint64 dropped = 0;  // "dropped by kernel"
        double senderRate = 0;
        double cpuSeconds = 0; // tcpdump's own user + system time
        QString error;
    };

    static Result run(const QString& senderProgram, quint16 port, qint64 count);
};
