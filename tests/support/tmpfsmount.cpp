#include "tmpfsmount.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

TmpfsMount::TmpfsMount(const QString& directory, qint64 sizeBytes, Kind kind)
    : m_directory(directory)
{
    if (::geteuid() != 0) {
        m_error = QStringLiteral("mounting needs root");
        return;
    }
    if (kind == Kind::Ext4Image) {
        const QString image = directory + QStringLiteral(".img");
        QFile file(image);
        m_mounted = file.open(QIODevice::WriteOnly) && file.resize(sizeBytes) &&
                    QProcess::execute("mkfs.ext4", {"-q", "-F", image}) == 0 &&
                    QProcess::execute("mount", {"-o", "loop", image, directory}) == 0;
        if (!m_mounted)
            m_error = QStringLiteral("no ext4 image could be made and mounted");
        return;
    }
    if (kind == Kind::OverlayOnTmpfs) {
        const QString layers = directory + QStringLiteral(".layers");
        QDir().mkpath(layers);
        m_layers = std::make_unique<TmpfsMount>(layers, sizeBytes);
        const QByteArray options =
            QFile::encodeName("lowerdir=" + layers + "/lower,upperdir=" + layers +
                              "/upper,workdir=" + layers + "/work");
        m_mounted = m_layers->error().isEmpty() && QDir(layers).mkpath("lower") &&
                    QDir(layers).mkpath("upper") && QDir(layers).mkpath("work") &&
                    ::mount("overlay", QFile::encodeName(directory).constData(), "overlay", 0,
                            options.constData()) == 0;
        if (!m_mounted)
            m_error = QStringLiteral("no overlay could be mounted");
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(sizeBytes) + ",mode=0755";
    if (::mount("tmpfs", QFile::encodeName(directory).constData(), "tmpfs", 0,
                options.constData()) != 0) {
        m_error = QStringLiteral("mount failed: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_mounted = true;
}

TmpfsMount::~TmpfsMount()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_directory).constData(), MNT_DETACH);
}

bool TmpfsMount::makeReadOnly()
{
    return m_mounted && ::mount(nullptr, QFile::encodeName(m_directory).constData(), nullptr,
                                MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool TmpfsMount::makeNoSuid()
{
    return m_mounted && ::mount(nullptr, QFile::encodeName(m_directory).constData(), nullptr,
                                MS_REMOUNT | MS_NOSUID, nullptr) == 0;
}
