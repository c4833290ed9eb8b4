#include "unwritablelog.h"

#include "testfiles.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

int UnwritableLog::reason() const
{
    constexpr int Reasons[] = {ENOENT, EISDIR, ENOSPC, EROFS, EROFS, ENOSPC}; // in enum order
    return Reasons[int(m_failure)];
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
    default:
        return readAll(mountPoint + "/log.csv") != Older ? QStringLiteral("older log changed")
               : onMount != QStringList{"log.csv"}       ? "left behind: " + onMount.join(' ')
                                                         : QString();
    }
}
