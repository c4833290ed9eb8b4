#include "tcpdumpreference.h"

#include "childprocess.h"
#include "floodsender.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <csignal>
#include <cstring>

namespace {

// The last count tcpdump printed before what; -1 when it printed none.
qint64 countBefore(const QString& text, const QString& what)
{
    const QRegularExpression pattern(QStringLiteral("(\\d+) ") + what);
    qint64 count = -1;
    for (QRegularExpressionMatchIterator i = pattern.globalMatch(text); i.hasNext();)
        count = i.next().captured(1).toLongLong();
    return count;
}

// tcpdump takes the kernel's last block only after its buffer timeout (1 s) and may be behind:
// it is asked for its count (SIGUSR1) until it has everything or stops making progress.
void waitForAllCaptured(ChildProcess& tcpdump, qint64 sent)
{
    qint64 last = -1;
    for (int unchanged = 0; unchanged < 3;) {
        tcpdump.read(500);
        tcpdump.signal(SIGUSR1);
        tcpdump.read(100);
        const qint64 captured = countBefore(QString::fromLocal8Bit(tcpdump.standardError()),
                                            QStringLiteral("packets captured"));
        if (captured >= sent)
            return;
        unchanged = captured == last ? unchanged + 1 : 0;
        last = captured;
    }
}

bool waitForListening(ChildProcess& tcpdump)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        tcpdump.read(100);
        if (tcpdump.standardError().contains("listening on"))
            return true;
        if (tcpdump.tryWait())
            return false;
    }
    return false;
}

} // namespace

TcpdumpReference::Result TcpdumpReference::run(const QString& senderProgram, quint16 port,
                                               qint64 count)
{
    Result result;
    ChildProcess tcpdump;
    const QString filter = QStringLiteral("port %1").arg(port);
    const int error =
        tcpdump.start(QStringLiteral("tcpdump"),
                      {QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-n"),
                       QStringLiteral("-w"), QStringLiteral("/dev/null"), filter},
                      {.inheritEnvironment = true, .searchPath = true});
    if (error != 0) {
        result.error = QStringLiteral("tcpdump: ") + QString::fromLocal8Bit(std::strerror(error));
        return result;
    }
    if (!waitForListening(tcpdump)) {
        result.error = QStringLiteral("tcpdump did not start: ") +
                       QString::fromLocal8Bit(tcpdump.standardError()).trimmed();
        return result;
    }
    FloodSender sender(senderProgram);
    if (!sender.start(port, count)) {
        result.error = sender.result().error;
        return result;
    }
    const FloodSender::Result& sent = sender.finish();
    waitForAllCaptured(tcpdump, sent.sent);
    tcpdump.signal(SIGINT);
    tcpdump.finish();

    const QString summary = QString::fromLocal8Bit(tcpdump.standardError());
    result.captured = countBefore(summary, QStringLiteral("packets captured"));
    result.received = countBefore(summary, QStringLiteral("packets received by filter"));
    result.dropped = countBefore(summary, QStringLiteral("packets dropped by kernel"));
    result.senderRate = sent.rate;
    result.cpuSeconds = tcpdump.cpuSeconds();
    result.ok = sent.ok && result.captured >= 0 && result.dropped >= 0;
    if (!sent.ok)
        result.error = sent.error;
    else if (!result.ok)
        result.error = QStringLiteral("tcpdump said: ") + summary.trimmed();
    return result;
}
