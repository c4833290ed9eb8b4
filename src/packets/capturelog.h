#pragma once

#include "listfile.h"
#include "logrows.h"

#include <QDateTime>

class PacketStore;

// Writes the CSV capture log: the rows' records as LogRecord makes them.
class CaptureLog : public ListFile
{
public:
    // The record buffer, then room for a packet's decoded text.
    static constexpr qsizetype BufferBytes = RecordBytes + LogRows::ScratchBytes;

    // Rows [0, rows) of the store, which must neither lose nor change them meanwhile; buffer
    // holds BufferBytes.
    CaptureLog(const PacketStore& store, qsizetype rows, char* buffer);

    // The name proposed for a new log: the directory as given, then "/KintoCapturelog", the
    // date as yyMMdd, the 24-hour time as HHmm and ".csv".
    static QString defaultFileName(const QString& directory, const QDateTime& now);

private:
    // Made where the log is set up: it takes the user's locale for the date texts.
    LogRows m_records;
};
