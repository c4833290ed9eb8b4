#include "capturelog.h"

#include "packetlistmodel.h"
#include "sigpipehold.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Records are gathered into chunks of this size so that a million rows take a few hundred
// system calls instead of millions.
constexpr qsizetype ChunkBytes = qsizetype(1) << 20;
constexpr char NewLineMarker[] = "{New Line}";
constexpr qsizetype NewLineMarkerLength = sizeof NewLineMarker - 1;

// Writes one field between quotes, a character per byte. Codes up to 255 keep their value, so
// the decoded packet bytes go back out unchanged; anything above has no byte and becomes '?'.
char* writeField(char* w, QStringView text, bool markLineBreaks)
{
    *w++ = '"';
    const QChar* c = text.begin();
    const QChar* const end = text.end();
    for (; c != end; ++c) {
        const char16_t u = c->unicode();
        if (markLineBreaks && u == u'\r' && c + 1 != end && c[1] == u'\n') {
            w = std::copy_n(NewLineMarker, NewLineMarkerLength, w);
            ++c;
        } else if (u <= 0xFF) {
            *w++ = char(u);
        } else {
            *w++ = '?';
            if (c->isHighSurrogate() && c + 1 != end && c[1].isLowSurrogate())
                ++c; // one character, one byte
        }
    }
    *w++ = '"';
    return w;
}

// A pipe or device whose reader takes nothing for this long has stopped reading; the save
// gives up instead of holding the window for as long as the reader waits.
constexpr int StallLimitSeconds = 3;

// A full disk shows first as a short write with no error set, and QSaveFile would still commit
// that file; so every byte is accounted for, and the write that finds no room names the reason.
bool writeAll(QIODevice& device, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = device.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// Writes to a descriptor opened non-blocking, waiting for room only while the reader makes
// progress. Returns an empty text when everything went out, otherwise the reason.
QString writeAll(int fd, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0) {
            done += written;
            continue;
        }
        if (written == 0)
            return qt_error_string(ENOSPC);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return qt_error_string(errno);
        pollfd room{fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, StallLimitSeconds * 1000);
        if (ready == 0)
            return QStringLiteral("Nothing more could be written to it for %1 seconds.")
                .arg(StallLimitSeconds);
        if (ready < 0 && errno != EINTR)
            return qt_error_string(errno);
    }
    return {};
}

// Gathers the rows into chunks and hands each to write, which says whether it went out.
template <typename Write> bool writeRows(const PacketListModel& model, Write write)
{
    QByteArray buffer;
    buffer.reserve(ChunkBytes + ChunkBytes / 4);
    QString fields[CaptureLog::FieldCount];
    for (int row = 0, rows = model.rowCount(); row < rows; ++row) {
        for (int column = 0; column < CaptureLog::FieldCount; ++column)
            fields[column] = model.text(row, column);
        CaptureLog::appendRecord(buffer, fields);
        if (buffer.size() >= ChunkBytes) {
            if (!write(buffer))
                return false;
            buffer.resize(0); // keeps the capacity for the next chunk
        }
    }
    return write(buffer);
}

QString failure(const QString& fileName, const QString& reason)
{
    const QString path =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(fileName).absoluteFilePath()));
    return QStringLiteral("The log could not be written to \"%1\":\r\n%2").arg(path, reason);
}

// QSaveFile words a refusal to replace an existing file in its own terms; the system's reason
// (a read-only file system, no permission) tells the user more.
QString openFailure(const QString& fileName, const QString& qtReason)
{
    if (::access(QFile::encodeName(fileName).constData(), W_OK) != 0 && errno != ENOENT)
        return qt_error_string(errno);
    return qtReason;
}

// Writes the file itself rather than a new one renamed over it. Devices and pipes must keep
// their identity (renaming over a device node would replace the node, and we run with the
// rights to do so); a regular file is emptied first. The non-blocking open keeps a pipe without
// a reader from hanging the window, and a reader that stops reading is given up on.
QString writeInPlace(const PacketListModel& model, const QString& fileName, int flags)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags);
    if (fd < 0)
        return failure(fileName, qt_error_string(errno));
    const SigpipeHold hold;
    QString reason;
    writeRows(model, [&](const QByteArray& chunk) {
        reason = writeAll(fd, chunk);
        return reason.isEmpty();
    });
    if (::close(fd) != 0 && reason.isEmpty() && errno != EINTR)
        reason = qt_error_string(errno);
    return reason.isEmpty() ? QString() : failure(fileName, reason);
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

// A regular file is written beside the old one and renamed over it only when complete, so a
// failure leaves the old log as it was.
QString writeReplacing(const PacketListModel& model, const QString& fileName)
{
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true); // Qt's own way past a folder that refuses new files
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // The reason QSaveFile gives is about its temporary file, which the user never named.
        if (mayReplaceInPlace(fileName))
            return writeInPlace(model, fileName, O_TRUNC);
        return failure(fileName, openFailure(fileName, file.errorString()));
    }
    if (!writeRows(model, [&](const QByteArray& chunk) { return writeAll(file, chunk); })) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failure(fileName, reason);
    }
    if (!file.commit()) {
        if (file.error() == QFileDevice::RenameError && mayReplaceInPlace(fileName))
            return writeInPlace(model, fileName, O_TRUNC);
        return failure(fileName, file.errorString());
    }
    return {};
}

} // namespace

QString CaptureLog::defaultFileName(const QString& directory, const QDateTime& now)
{
    return directory + QStringLiteral("/KintoCapturelog") +
           now.toString(QStringLiteral("yyMMddHHmm")) + QStringLiteral(".csv");
}

void CaptureLog::appendRecord(QByteArray& out, const QString (&fields)[FieldCount])
{
    qsizetype room = 2; // CR LF
    for (const QString& field : fields)
        room += field.size() * NewLineMarkerLength / 2 + field.size() + 3;
    const qsizetype start = out.size();
    out.resize(start + room);
    char* w = out.data() + start;
    for (int i = 0; i < FieldCount; ++i) {
        if (i > 0)
            *w++ = ',';
        w = writeField(w, fields[i], i == FieldCount - 1);
    }
    *w++ = '\r';
    *w++ = '\n';
    out.truncate(w - out.constData());
}

QString CaptureLog::write(const PacketListModel& model, const QString& fileName)
{
    struct stat status;
    if (::stat(QFile::encodeName(fileName).constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode))
            return failure(fileName, qt_error_string(EISDIR));
        return writeInPlace(model, fileName, 0);
    }
    return writeReplacing(model, fileName);
}
