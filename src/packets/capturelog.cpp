#include "capturelog.h"

CaptureLog::CaptureLog(const PacketStore& store, qsizetype rows, char* buffer)
    : ListFile(m_records, rows, buffer, QStringLiteral("log")),
      m_records(store, buffer + RecordBytes)
{}

QString CaptureLog::defaultFileName(const QString& directory, const QDateTime& now)
{
    return directory + QStringLiteral("/KintoCapturelog") +
           now.toString(QStringLiteral("yyMMddHHmm")) + QStringLiteral(".csv");
}
