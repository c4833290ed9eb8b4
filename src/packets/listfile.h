#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <memory>

class LogRows;
class PacketListModel;
class PacketStore;

// Writes the CSV capture log (records as LogRecord makes them) to a file. An older file of the
// same name is replaced only by a complete new one. Writing may run on a thread of its own:
// another thread may follow it through rowsWritten() and cancel it.
class CaptureLog
{
public:
    // Records are gathered in 1 MiB, so that a million rows take a few hundred system calls;
    // the rest of the buffer takes a packet's decoded text. It is all the memory the writing
    // needs, allocated before it starts.
    static constexpr qsizetype RecordBytes = qsizetype(1) << 20;
    static const qsizetype BufferBytes;

    // Rows [0, rows) of the store, which must neither lose nor change them meanwhile; buffer
    // holds BufferBytes.
    CaptureLog(const PacketStore& store, qsizetype rows, char* buffer);
    ~CaptureLog();

    // Returns an empty text on success or when cancelled, otherwise a text for the user that
    // names the file and gives the system's reason.
    QString write(const QString& fileName);
    void cancel() { m_cancel.store(true, std::memory_order_relaxed); }
    // Whether the writing stopped for a cancel; one that came after the end changes nothing.
    bool wasCanceled() const { return m_canceled; }
    qsizetype rowsWritten() const { return m_rowsWritten.load(std::memory_order_relaxed); }

    // The name proposed for a new log: the directory as given, then "/KintoCapturelog", the
    // date as yyMMdd, the 24-hour time as HHmm and ".csv".
    static QString defaultFileName(const QString& directory, const QDateTime& now);

private:
    template <typename Write> bool writeRows(Write write);
    QString writeInPlace(const QString& fileName, int flags);
    QString writeReplacing(const QString& fileName);
    QString writeAll(int fd, const char* data, qsizetype size);
    bool stopsForCancel();

    const qsizetype m_rows;
    // Made where the log is set up: it takes the user's locale for the date texts.
    const std::unique_ptr<LogRows> m_records;
    char* const m_buffer;
    std::atomic<bool> m_cancel{false};
    bool m_canceled = false;
    std::atomic<qsizetype> m_rowsWritten{0};
};
