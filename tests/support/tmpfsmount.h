#pragma once

#include <QString>

#include <memory>

// A small tmpfs mounted over a test's own directory, for read-only and full-disk cases; or a
// small ext4 file system in an image file beside it, for a full disk that is a disk (a tmpfs
// is memory); or an overlay whose layers are on a tmpfs beside it, as live systems and
// containers have. Needs root; unmounted again when the object goes, whatever the outcome.
class TmpfsMount
{
public:
    enum class Kind { Tmpfs, Ext4Image, OverlayOnTmpfs };

    TmpfsMount(const QString& directory, qint64 sizeBytes, Kind kind = Kind::Tmpfs);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    // Empty when mounted, otherwise why not (tests skip then).
    QString error() const { return m_error; }
    bool makeReadOnly();
    // Remounts it nosuid: the kernel then ignores set-user-id bits and file capabilities.
    bool makeNoSuid();

private:
    QString m_directory;
    QString m_error;
    std::unique_ptr<TmpfsMount> m_layers;
    bool m_mounted = false;
};
