#pragma once

#include <QString>

#include <atomic>

class RowFormat;

// Writes rows of the list to a file in a given format (the CSV capture log, a pcap capture
// file). An older file of the same name is replaced only by a complete new one. Writing may
// run on a thread of its own: another thread may follow it through rowsWritten() and cancel it.
class ListFile
{
public:
    // Records are gathered in 1 MiB, so that a million rows take a few hundred system calls.
    // It is all the memory the writing needs, allocated before it starts.
    static constexpr qsizetype RecordBytes = qsizetype(1) << 20;

    // Rows [0, rows) as format makes them; format reads a store that must neither lose nor
    // change them meanwhile. buffer holds RecordBytes. what names the file in messages
    // ("log", "capture").
    ListFile(RowFormat& format, qsizetype rows, char* buffer, const QString& what);
    virtual ~ListFile() = default;

    // Returns an empty text on success or when cancelled, otherwise a text for the user that
    // names the file and gives the system's reason.
    QString write(const QString& fileName);
    void cancel() { m_cancel.store(true, std::memory_order_relaxed); }
    // Whether the writing stopped for a cancel; one that came after the end changes nothing.
    bool wasCanceled() const { return m_canceled; }
    qsizetype rowsWritten() const { return m_rowsWritten.load(std::memory_order_relaxed); }

private:
    template <typename Write> bool writeRows(Write write);
    QString writeInPlace(const QString& fileName, int flags);
    QString writeReplacing(const QString& fileName);
    QString writeAll(int fd, const char* data, qsizetype size);
    QString failure(const QString& fileName, const QString& reason) const;
    bool stopsForCancel();

    RowFormat& m_format;
    const qsizetype m_rows;
    char* const m_buffer;
    const QString m_what;
    std::atomic<bool> m_cancel{false};
    bool m_canceled = false;
    std::atomic<qsizetype> m_rowsWritten{0};
};
