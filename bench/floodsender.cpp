#include "floodsender.h"

#include <QStringList>

#include <cstring>

bool FloodSender::start(quint16 port, qint64 count)
{
    m_result = {};
    const int error = m_process.start(m_program,
                                      {QStringLiteral("--port"), QString::number(port),
                                       QStringLiteral("--count"), QString::number(count)},
                                      {.inheritEnvironment = true});
    if (error == 0)
        return true;
    m_result.error =
        m_program + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
    return false;
}

bool FloodSender::tryFinish()
{
    if (!m_process.tryWait())
        return false;
    collect();
    return true;
}

const FloodSender::Result& FloodSender::finish()
{
    m_process.finish();
    collect();
    return m_result;
}

void FloodSender::collect()
{
    const QString line = QString::fromLocal8Bit(m_process.standardOutput()).trimmed();
    for (const QString& pair : line.split(u' ', Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0);
        const QString value = pair.section(u'=', 1);
        if (key == u"sent")
            m_result.sent = value.toLongLong();
        else if (key == u"seconds")
            m_result.seconds = value.toDouble();
        else if (key == u"rate")
            m_result.rate = value.toDouble();
        else if (key == u"last_send_ns")
            m_result.lastSendNs = value.toLongLong();
    }
    m_result.ok = m_process.exitCode() == 0 && m_result.sent > 0;
    if (!m_result.ok)
        m_result.error = QStringLiteral("sender failed (exit %1): %2")
                             .arg(m_process.exitCode())
                             .arg(QString::fromLocal8Bit(m_process.standardError()).trimmed());
}
