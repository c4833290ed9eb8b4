#include "listfile.h"

#include "rowformat.h"
#include "sigpipehold.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A pipe or device whose reader takes nothing for this long has stopped reading; the save
// gives up instead of waiting for as long as the reader does.
constexpr int StallLimitMs = 3000;
// While waiting for room, a cancel is looked for this often.
constexpr int WaitSliceMs = 100;

// A full disk shows first as a short write with no error set, and QSaveFile would still commit
// that file; so every byte is accounted for, and the write that finds no room names the reason.
bool writeAll(QIODevice& device, const char* data, qsizetype size)
{
    for (qsizetype done = 0; done < size;) {
        const qint64 written = device.write(data + done, size - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// QSaveFile words a refusal to replace an existing file in its own terms; the system's reason
// (a read-only file system, no permission) tells the user more.
QString openFailure(const QString& fileName, const QString& qtReason)
{
    if (::access(QFile::encodeName(fileName).constData(), W_OK) != 0 && errno != ENOENT)
        return qt_error_string(errno);
    return qtReason;
}

// Writing the existing file in place is the way left when no new file can take its name: its
// folder refuses new files or renames (the user may write the file but not the folder, or the
// file is bind-mounted). Not when the disk is full, where emptying the old log would lose it.
bool mayReplaceInPlace(const QString& fileName)
{
    struct stat status;
    if (::stat(QFile::encodeName(fileName).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    struct statvfs disk;
    const QByteArray folder = QFile::encodeName(QFileInfo(fileName).absolutePath());
    return ::statvfs(folder.constData(), &disk) != 0 || disk.f_blocks == 0 || disk.f_bavail > 0;
}

} // namespace

ListFile::ListFile(RowFormat& format, qsizetype rows, char* buffer, const QString& what)
    : m_format(format), m_rows(rows), m_buffer(buffer), m_what(what)
{}

QString ListFile::failure(const QString& fileName, const QString& reason) const
{
    const QString path =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(fileName).absoluteFilePath()));
    return QStringLiteral("The %1 could not be written to \"%2\":\r\n%3").arg(m_what, path, reason);
}

bool ListFile::stopsForCancel()
{
    if (m_cancel.load(std::memory_order_relaxed))
        m_canceled = true;
    return m_canceled;
}

// Writes to a descriptor opened non-blocking, waiting for room only while the reader makes
// progress. Returns an empty text when everything went out or the writing was cancelled,
// otherwise the reason.
QString ListFile::writeAll(int fd, const char* data, qsizetype size)
{
    for (qsizetype done = 0, waited = 0; done < size;) {
        const ssize_t written = ::write(fd, data + done, size_t(size - done));
        if (written > 0) {
            done += written;
            waited = 0;
            continue;
        }
        if (written == 0)
            return qt_error_string(ENOSPC);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return qt_error_string(errno);
        if (stopsForCancel())
            return {};
        if (waited >= StallLimitMs)
            return QStringLiteral("Nothing more could be written to it for %1 seconds.")
                .arg(StallLimitMs / 1000);
        pollfd room{fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, WaitSliceMs);
        if (ready == 0)
            waited += WaitSliceMs;
        if (ready < 0 && errno != EINTR)
            return qt_error_string(errno);
    }
    return {};
}

// Fills the buffer with records and hands each full buffer to write, which says whether it
// went out. Between buffers the count of rows written is published and a cancel looked for.
template <typename Write> bool ListFile::writeRows(Write write)
{
    RowFormat& rows = m_format;
    char* const end = m_buffer + RecordBytes;
    char* w = rows.writeHeader(m_buffer);
    auto flush = [&](qsizetype rowsDone) {
        if (stopsForCancel() || !write(m_buffer, w - m_buffer))
            return false;
        w = m_buffer;
        m_rowsWritten.store(rowsDone, std::memory_order_relaxed);
        return true;
    };
    for (qsizetype row = 0; row < m_rows; ++row) {
        rows.load(row);
        const qsizetype room = rows.room();
        if (end - w < room && !flush(row))
            return false;
        if (room <= RecordBytes) {
            w = rows.write(w);
            continue;
        }
        // A record longer than the buffer (a huge packet full of line breaks) gets its own.
        QByteArray record(room, Qt::Uninitialized);
        if (!write(record.constData(), rows.write(record.data()) - record.constData()))
            return false;
    }
    return flush(m_rows);
}

// Writes the file itself rather than a new one renamed over it. Devices and pipes must keep
// their identity (renaming over a device node would replace the node, and we run with the
// rights to do so); a regular file is emptied first. The non-blocking open keeps a pipe without
// a reader from hanging the window, and a reader that stops reading is given up on.
QString ListFile::writeInPlace(const QString& fileName, int flags)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags);
    if (fd < 0)
        return failure(fileName, qt_error_string(errno));
    const SigpipeHold hold;
    QString reason;
    writeRows([&](const char* data, qsizetype size) {
        reason = writeAll(fd, data, size);
        return reason.isEmpty() && !wasCanceled();
    });
    if (::close(fd) != 0 && reason.isEmpty() && errno != EINTR)
        reason = qt_error_string(errno);
    return reason.isEmpty() ? QString() : failure(fileName, reason);
}

// A regular file is written beside the old one and renamed over it only when complete, so a
// failure leaves the old log as it was.
QString ListFile::writeReplacing(const QString& fileName)
{
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true); // Qt's own way past a folder that refuses new files
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // The reason QSaveFile gives is about its temporary file, which the user never named.
        if (mayReplaceInPlace(fileName))
            return writeInPlace(fileName, O_TRUNC);
        return failure(fileName, openFailure(fileName, file.errorString()));
    }
    qint64 offset = 0;
    const bool written = writeRows([&](const char* data, qsizetype size) {
        if (!::writeAll(file, data, size))
            return false;
        // The disk starts on each buffer at once, so that the commit's flush to the disk finds
        // little left to do instead of the whole log.
        ::sync_file_range(file.handle(), offset, size, SYNC_FILE_RANGE_WRITE);
        offset += size;
        return true;
    });
    if (!written || wasCanceled()) {
        // The temporary file goes; an older log of that name stays as it was.
        const QString reason = file.errorString();
        file.cancelWriting();
        return wasCanceled() ? QString() : failure(fileName, reason);
    }
    if (!file.commit()) {
        if (file.error() == QFileDevice::RenameError && mayReplaceInPlace(fileName))
            return writeInPlace(fileName, O_TRUNC);
        return failure(fileName, file.errorString());
    }
    return {};
}

QString ListFile::write(const QString& fileName)
{
    try {
        struct stat status;
        if (::stat(QFile::encodeName(fileName).constData(), &status) == 0 &&
            !S_ISREG(status.st_mode)) {
            if (S_ISDIR(status.st_mode))
                return failure(fileName, qt_error_string(EISDIR));
            return writeInPlace(fileName, 0);
        }
        return writeReplacing(fileName);
    } catch (const std::bad_alloc&) {
        // A file left half written is removed with its QSaveFile, the older log kept.
        return failure(fileName, qt_error_string(ENOMEM));
    }
}
