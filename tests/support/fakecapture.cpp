#include "fakecapture.h"

#include "packetbatch.h"

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

QString FakeCapture::setFilter(const QString& expression)
{
    m_filter = expression;
    m_calls << QStringLiteral("filter ") + expression;
    if (!m_filterError.isEmpty())
        m_capturing = false;
    return m_filterError;
}

QString FakeCapture::start()
{
    m_calls << QStringLiteral("start");
    const QString error = !m_filterError.isEmpty() ? m_filterError : m_startError;
    m_capturing = error.isEmpty();
    return error;
}

void FakeCapture::stop()
{
    m_calls << QStringLiteral("stop");
    m_capturing = false;
}

void FakeCapture::deliver(const QList<Packet>& packets)
{
    if (!m_capturing)
        return;
    PacketBatch batch;
    for (const Packet& p : packets)
        batch.append(p.timeUs, p.size, p.data);
    emit packetsCaptured(batch);
}

void FakeCapture::fail(const QString& reason)
{
    m_capturing = false;
    emit captureFailed(reason);
}
