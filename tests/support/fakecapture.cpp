#include "fakecapture.h"

#include "filterexpression.h"
#include "packetbatch.h"
#include "testpackets.h"

#include <QRegularExpression>

namespace {

// The filters the program writes: "port N" as libpcap reads it; -1 for anything else.
int portOf(const QString& filter)
{
    static const QRegularExpression portFilter(QStringLiteral("^port +(\\d{1,5})$"));
    const QRegularExpressionMatch m = portFilter.match(FilterExpression::decimalNumbers(filter));
    const int port = m.hasMatch() ? m.captured(1).toInt() : -1;
    return port <= 65535 ? port : -1;
}

} // namespace

FakeCapture::FakeCapture(const QStringList& descriptions, QObject* parent)
    : CaptureComponent(parent)
{
    for (int i = 0; i < descriptions.size(); ++i)
        m_adapters.append({QStringLiteral("fake%1").arg(i), descriptions[i]});
}

void FakeCapture::setAdapter(int index)
{
    m_adapter = index;
    m_calls << QStringLiteral("adapter %1").arg(index);
}

void FakeCapture::setFilter(const QString& expression)
{
    m_filter = expression;
    m_calls << QStringLiteral("filter ") + expression;
}

QString FakeCapture::start()
{
    m_calls << QStringLiteral("start");
    m_capturing = false;
    if (m_whileStarting)
        m_whileStarting();
    if (m_adapter < 0 || m_adapter >= m_adapters.size())
        return QStringLiteral("No adapter is chosen.");
    if (!m_startError.isEmpty())
        return m_startError;
    m_openPort = portOf(m_filter);
    if (m_openPort < 0)
        return QStringLiteral("The capture filter \"%1\" cannot be used").arg(m_filter);
    m_capturing = true;
    return {};
}

void FakeCapture::stop(StopCause)
{
    m_calls << QStringLiteral("stop");
    m_capturing = false;
}

void FakeCapture::deliver(const QList<Packet>& packets)
{
    if (!m_capturing)
        return;
    emit packetsCaptured(batchOf(packets));
}

void FakeCapture::arrive(quint16 port, const QByteArray& payload)
{
    if (m_capturing && port == m_openPort)
        deliver({Packet{0, quint32(payload.size()), payload}});
}

void FakeCapture::fail(const QString& reason)
{
    m_capturing = false;
    emit captureFailed(reason);
}
