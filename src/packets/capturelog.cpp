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
#include <sys/stat.h>
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

bool writeRows(const PacketListModel& model, QIODevice& device)
{
    QByteArray buffer;
    buffer.reserve(ChunkBytes + ChunkBytes / 4);
    QString fields[CaptureLog::FieldCount];
    for (int row = 0, rows = model.rowCount(); row < rows; ++row) {
        for (int column = 0; column < CaptureLog::FieldCount; ++column)
            fields[column] = model.text(row, column);
        CaptureLog::appendRecord(buffer, fields);
        if (buffer.size() >= ChunkBytes) {
            if (!writeAll(device, buffer))
                return false;
            buffer.resize(0); // keeps the capacity for the next chunk
        }
    }
    return writeAll(device, buffer);
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

// A regular file is written beside the old one and renamed over it only when complete, so a
// failure leaves the old log as it was.
QString writeReplacing(const PacketListModel& model, const QString& fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(fileName, openFailure(fileName, file.errorString()));
    if (!writeRows(model, file)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failure(fileName, reason);
    }
    if (!file.commit())
        return failure(fileName, file.errorString());
    return {};
}

// A device or a pipe must keep its identity: renaming a new file over it would replace the
// device node itself, and we run with the rights to do so. It is written in place instead. The
// non-blocking open keeps a pipe without a reader from hanging the window.
QString writeInPlace(const PacketListModel& model, const QString& fileName)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failure(fileName, qt_error_string(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFile::AutoCloseHandle)) {
        ::close(fd);
        return failure(fileName, file.errorString());
    }
    const SigpipeHold hold;
    if (!writeRows(model, file))
        return failure(fileName, file.errorString());
    file.close();
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
        return writeInPlace(model, fileName);
    }
    return writeReplacing(model, fileName);
}
