#pragma once

#include "stalledreader.h"
#include "tmpfsmount.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A capture log name that cannot be written, for each way a write fails, and the check that
// the failed write harmed nothing that was there before.
class UnwritableLog
{
public:
    enum class Failure {
        MissingDirectory,     // its directory does not exist
        NameIsDirectory,      // the name is a directory, with a file in it
        DeviceFull,           // /dev/full
        ReadOnlyMount,        // an older log on a read-only file system
        ReadOnlyMountNewName, // a new name on a read-only file system
        DiskFull,             // an older log on a small file system: the test fills it
        ProcFile,             // /proc/version: exists, but takes no new file beside it
        StalledPipe,          // a FIFO whose reader has stopped reading
    };

    // What an older log holds; it must come through a failed write unchanged.
    static inline const QByteArray Older =
        "\"1\",\"an older log\",\"1\",\"Message\",\"keep me\"\r\n";

    explicit UnwritableLog(Failure failure);

    // Why the place could not be made (a test skips when tmpfs cannot be mounted), or empty.
    QString error() const { return m_error; }
    QString fileName() const { return m_fileName; }
    // What the user must be told as the reason.
    QString reason() const;
    // Rows enough to fail: a stalled pipe takes a few kilobytes before it blocks.
    int rowsNeeded() const { return m_failure == Failure::StalledPipe ? 5000 : 2; }

    // What the failed write changed of what was there before, or empty.
    QString harm() const;

private:
    void mount(bool readOnly);

    Failure m_failure;
    QTemporaryDir m_dir;
    std::unique_ptr<TmpfsMount> m_mount;
    std::unique_ptr<StalledReader> m_reader;
    QString m_fileName;
    QString m_error;
};

Q_DECLARE_METATYPE(UnwritableLog::Failure)
