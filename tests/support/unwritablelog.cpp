#include "unwritablelog.h"

#include "testfiles.h"

#include <QDir>
#include <QFileInfo>

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The character device /dev/full, not a file put in its place.
bool isDevFull()
{
    struct stat status;
    return ::stat("/dev/full", &status) == 0 && S_ISCHR(status.st_mode) &&
           status.st_rdev == makedev(1, 7);
}

} // namespace

UnwritableLog::UnwritableLog(Failure failure) : m_failure(failure)
{
    switch (failure) {
    case Failure::MissingDirectory:
        m_fileName = m_dir.filePath("missing/log.csv");
        break;
    case Failure::NameIsDirectory:
        m_fileName = m_dir.filePath("folder");
        if (!QDir().mkpath(m_fileName) || !writeFile(m_fileName + "/inside.csv", Older))
            m_error = QStringLiteral("cannot make ") + m_fileName;
        break;
    case Failure::DeviceFull:
        m_fileName = QStringLiteral("/dev/full");
        break;
    case Failure::ReadOnlyMount:
    case Failure::ReadOnlyMountNewName:
    case Failure::DiskFull:
        mount(failure != Failure::DiskFull);
        m_fileName = m_dir.filePath(failure == Failure::ReadOnlyMountNewName ? "mnt/new.csv"
                                                                             : "mnt/log.csv");
        break;
    case Failure::ProcFile:
        m_fileName = QStringLiteral("/proc/version");
        break;
    case Failure::StalledPipe:
        m_fileName = m_dir.filePath("fifo");
        if (::mkfifo(QFile::encodeName(m_fileName).constData(), 0600) != 0)
            m_error = QStringLiteral("cannot make ") + m_fileName;
        else if (!(m_reader = std::make_unique<StalledReader>(m_fileName))->isOpen())
            m_error = QStringLiteral("cannot open ") + m_fileName;
        break;
    }
}

void UnwritableLog::mount(bool readOnly)
{
    const QString mountPoint = m_dir.filePath("mnt");
    if (!QDir().mkpath(mountPoint)) {
        m_error = QStringLiteral("cannot make ") + mountPoint;
        return;
    }
    m_mount = std::make_unique<TmpfsMount>(mountPoint, 64 * 1024);
    m_error = m_mount->error();
    if (m_error.isEmpty() && !writeFile(mountPoint + "/log.csv", Older))
        m_error = QStringLiteral("cannot write the older log");
    if (m_error.isEmpty() && readOnly && !m_mount->makeReadOnly())
        m_error = QStringLiteral("cannot make the mount read-only");
}

QString UnwritableLog::reason() const
{
    switch (m_failure) {
    case Failure::MissingDirectory:
        return qt_error_string(ENOENT);
    case Failure::NameIsDirectory:
        return qt_error_string(EISDIR);
    case Failure::DeviceFull:
    case Failure::DiskFull:
        return qt_error_string(ENOSPC);
    case Failure::ReadOnlyMount:
    case Failure::ReadOnlyMountNewName:
        return qt_error_string(EROFS);
    case Failure::ProcFile:
        // The file's own reason, not that of a file beside it that /proc refuses.
        return qt_error_string(::geteuid() == 0 ? EIO : EACCES);
    case Failure::StalledPipe:
        return QStringLiteral("Nothing more could be written to it for 3 seconds.");
    }
    return {};
}

QString UnwritableLog::harm() const
{
    const QString mountPoint = m_dir.filePath("mnt");
    const QStringList onMount =
        QDir(mountPoint).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    switch (m_failure) {
    case Failure::MissingDirectory:
        return QFileInfo::exists(m_dir.filePath("missing")) ? "directory made" : "";
    case Failure::NameIsDirectory:
        return readAll(m_fileName + "/inside.csv") == Older ? "" : "the file in it changed";
    case Failure::DeviceFull:
        return isDevFull() ? "" : "/dev/full replaced";
    case Failure::ProcFile:
    case Failure::StalledPipe:
        return {};
    default:
        return readAll(mountPoint + "/log.csv") != Older ? QStringLiteral("older log changed")
               : onMount != QStringList{"log.csv"}       ? "left behind: " + onMount.join(' ')
                                                         : QString();
    }
}
