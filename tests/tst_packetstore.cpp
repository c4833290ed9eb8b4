#include "memorycgroup.h"
#include "memorywatch.h"
#include "packetbatch.h"
#include "packetlistmodel.h"
#include "packetstore.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <list>
#include <optional>
#include <thread>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Deterministic packets: lengths from a pattern, bytes that differ from packet to packet.
struct Packets
{
    QList<QByteArray> data;

    Packets(int count, int minLength, int maxLength, int emptyEvery)
    {
        quint32 x = 2463534242u;
        for (int k = 0; k < count; ++k) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            const int length = emptyEvery && k % emptyEvery == 0
                                   ? 0
                                   : minLength + int(x % quint32(maxLength - minLength + 1));
            QByteArray bytes(length, Qt::Uninitialized);
            for (int i = 0; i < length; ++i)
                bytes[i] = char(k * 31 + i);
            data.append(bytes);
        }
    }
};

// The store's file as the process holds it: "<folder>/#<inode> (deleted)" among its descriptors;
// the descriptor's path.
QString storeFileIn(const QString& folder, struct stat* info)
{
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : descriptors.entryList(QDir::Files | QDir::System)) {
        const QString target = QFile::symLinkTarget(descriptors.filePath(fd));
        if (target.startsWith(folder + "/#") && target.endsWith(" (deleted)") &&
            ::stat(QFile::encodeName(descriptors.filePath(fd)).constData(), info) == 0)
            return descriptors.filePath(fd);
    }
    return {};
}

} // namespace

class tst_PacketStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void batchesKeepEveryPacketAcrossChunks_data();
    void batchesKeepEveryPacketAcrossChunks();
    void readerOfEarlierEntriesRunsWhileAppending();
    void fileRules_data();
    void fileRules();
    void runningOut_data();
    void runningOut();
    void memoryGuard_data();
    void memoryGuard();

private:
    // The folders of the rules are on a disk of the test's own, whatever /tmp is here.
    QTemporaryDir m_dir;
    std::optional<TmpfsMount> m_disk;
    QString m_base;
};

void tst_PacketStore::initTestCase()
{
    m_base = m_dir.filePath("disk");
    QVERIFY(QDir().mkdir(m_base));
    if (!m_disk.emplace(m_base, qint64(256) << 20, TmpfsMount::Kind::Ext4Image).error().isEmpty())
        m_base.clear();
}

void tst_PacketStore::batchesKeepEveryPacketAcrossChunks_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("minLength");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<int>("emptyEvery");
    QTest::addColumn<int>("batchSize");

    // Each case holds more than two 4 MiB chunks' worth of bytes.
    QTest::newRow("small packets, large batches") << 160000 << 60 << 60 << 0 << 7000;
    QTest::newRow("mixed lengths and empty packets") << 14000 << 1 << 1500 << 10 << 333;
    QTest::newRow("empty packets first in a batch") << 20000 << 300 << 900 << 3 << 3;
    QTest::newRow("packets of a snapshot's length") << 40 << 200000 << 262144 << 0 << 6;
    QTest::newRow("one packet per batch") << 30000 << 200 << 400 << 0 << 1;
}

void tst_PacketStore::batchesKeepEveryPacketAcrossChunks()
{
    QFETCH(int, count);
    QFETCH(int, minLength);
    QFETCH(int, maxLength);
    QFETCH(int, emptyEvery);
    QFETCH(int, batchSize);
    const Packets packets(count, minLength, maxLength, emptyEvery);

    PacketStore store;
    PacketBatch batch;
    for (int k = 0; k < count; ++k) {
        batch.append(1765000000000000 + k, quint32(1000 + k), packets.data[k]);
        if (batch.count() == batchSize || k == count - 1) {
            store.append(batch);
            batch.clear();
        }
    }

    QCOMPARE(store.count(), count);
    for (int k = 0; k < count; ++k) {
        QCOMPARE(store.timeUs(k), 1765000000000000 + k);
        QCOMPARE(store.size(k), quint32(1000 + k));
        if (store.bytes(k) != packets.data[k])
            QFAIL(qPrintable(
                QString("packet %1 of %2 bytes differs").arg(k).arg(packets.data[k].size())));
    }
}

void tst_PacketStore::readerOfEarlierEntriesRunsWhileAppending()
{
    // The log writer reads the rows there were when it began while capture appends: nothing it
    // reads may move. Many blocks and chunks are opened meanwhile (under the address sanitizer
    // a table that moved would be a use after free).
    const Packets packets(10000, 20, 60, 0);
    PacketStore store;
    PacketBatch batch;
    for (int k = 0; k < packets.data.size(); ++k)
        batch.append(k, quint32(k), packets.data[k]);
    store.append(batch);
    const qsizetype readable = store.count();

    std::atomic<bool> appending{true};
    std::atomic<qsizetype> wrong{-1};
    std::thread reader([&] {
        do {
            for (qsizetype k = 0; k < readable && wrong < 0; ++k) {
                if (store.timeUs(k) != k || store.bytes(k) != packets.data[k])
                    wrong = k;
            }
        } while (appending && wrong < 0);
    });
    for (int round = 0; round < 60; ++round)
        QCOMPARE(store.append(batch), batch.count());
    appending = false;
    reader.join();
    QCOMPARE(wrong.load(), qsizetype(-1));
    QCOMPARE(store.count(), 61 * readable);
    QCOMPARE(store.bytes(store.count() - 1), packets.data.last());
}

void tst_PacketStore::fileRules_data()
{
    // The store tries two folders, each made as told; "chosen" is the one its file is in, -1
    // for memory. With "cgroupMB" the store runs in a memory cgroup that leaves it so much;
    // with -1 it takes 1,000 rows at most.
    QTest::addColumn<QString>("folders");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("cgroupMB");
    QTest::newRow("the cache folder") << "folder folder" << 0 << 0;
    QTest::newRow("a cache folder not there yet is made, 0700") << "missing folder" << 0 << 0;
    QTest::newRow("not on a memory file system") << "tmpfs folder" << 1 << 0;
    QTest::newRow("not on an overlay whose upper layer is in memory") << "overlay folder" << 1 << 0;
    QTest::newRow("not through a symbolic link") << "link folder" << 1 << 0;
    QTest::newRow("not in a folder of another user") << "foreign folder" << 1 << 0;
    QTest::newRow("not in a file") << "file folder" << 1 << 0;
    QTest::newRow("no usable folder: memory") << "tmpfs foreign" << -1 << 0;
    QTest::newRow("in memory, stops while the cgroup has a reserve") << "file tmpfs" << -1 << 256;
    QTest::newRow("as many rows as the list can count") << "folder file" << 0 << -1;
}

void tst_PacketStore::fileRules()
{
    QFETCH(QString, folders);
    QFETCH(int, chosen);
    QFETCH(int, cgroupMB);
    if (m_base.isEmpty())
        QSKIP("needs root, to mount a disk of its own");
    QTemporaryDir dir(m_base + "/XXXXXX");
    std::list<TmpfsMount> mounts;
    // Someone else: giving a folder away takes root, and nobody may give it to himself.
    const uid_t otherUser = ::geteuid() == 65534 ? 65533 : 65534;
    QStringList paths;
    for (const QString& kind : folders.split(' ')) {
        const QString path = dir.filePath(QString::number(paths.size()));
        paths.append(path);
        QVERIFY(kind == "file"   ? QFile(path).open(QIODevice::WriteOnly)
                : kind == "link" ? QDir().mkdir(path + "-") && QFile::link(path + "-", path)
                                 : kind == "missing" || QDir().mkdir(path));
        const auto mounted = [&](TmpfsMount::Kind type) {
            return mounts.emplace_back(path, 16 << 20, type).error().isEmpty();
        };
        if ((kind == "tmpfs" && !mounted(TmpfsMount::Kind::Tmpfs)) ||
            (kind == "overlay" && !mounted(TmpfsMount::Kind::OverlayOnTmpfs)) ||
            (kind == "foreign" && ::chown(QFile::encodeName(path), otherUser, otherUser) != 0))
            QSKIP("needs root");
    }
    std::optional<MemoryCgroup> cgroup;
    if (cgroupMB > 0 && !cgroup.emplace(qint64(cgroupMB) << 20).error().isEmpty())
        QSKIP(qPrintable(cgroup->error()));
    PacketStore store(paths, cgroupMB < 0 ? 1000 : PacketStore::MaxEntries);
    QCOMPARE(store.folder(), chosen < 0 ? QString() : paths[chosen]);
    // Kilobyte packets, up to 512 MiB of them in a cgroup.
    const Packets packets(1000, 1000, 1000, 0);
    PacketBatch batch;
    for (const QByteArray& data : packets.data)
        batch.append(0, 1000, data);
    for (int k = 0; k < (cgroupMB ? 512 : 1) && !store.isFull(); ++k)
        store.append(batch);
    QCOMPARE(store.shortage(), cgroupMB > 0   ? StoreShortage::Memory
                               : cgroupMB < 0 ? StoreShortage::Rows
                                              : StoreShortage::None);
    QVERIFY(store.bytes(store.count() - 1) == packets.data[(store.count() - 1) % 1000]);

    struct stat info = {};
    const QString file = storeFileIn(chosen < 0 ? dir.path() : paths[chosen], &info);
    QCOMPARE(file.isEmpty(), chosen < 0);
    if (chosen >= 0) {
        // Nobody else can open it, and it has no name to be found or kept by.
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QCOMPARE(info.st_nlink, nlink_t(0));
        QVERIFY(QDir(paths[chosen]).isEmpty());
        QVERIFY(store.diskBytes() >= store.count() * 1000);
        QVERIFY(!folders.startsWith("missing") ||
                (::stat(QFile::encodeName(paths[0]), &info) == 0 && (info.st_mode & 0777) == 0700));
    }
    store.clear();
    QCOMPARE(store.diskBytes(), 0);
    QVERIFY(!store.isFull());
}

void tst_PacketStore::runningOut_data()
{
    // The store's folder is a file system of 48 MB of its own; "next" is a folder on another.
    QTest::addColumn<QString>("way");
    QTest::addColumn<StoreShortage>("shortage");
    QTest::newRow("the floor left to the disk's users") << "floor" << StoreShortage::Disk;
    QTest::newRow("a file-size limit, in a child") << "fsize" << StoreShortage::FileSize;
    QTest::newRow("a disk full at start: the next folder") << "full" << StoreShortage::None;
    QTest::newRow("a damaged index: rows that say so") << "damaged" << StoreShortage::None;
}

void tst_PacketStore::runningOut()
{
    QFETCH(QString, way);
    QFETCH(StoreShortage, shortage);
    if (m_base.isEmpty())
        QSKIP("needs root, to mount a disk of its own");
    QTemporaryDir dir(m_base + "/XXXXXX");
    const QString disk = dir.filePath("disk"), next = dir.filePath("next");
    QVERIFY(QDir().mkdir(disk) && QDir().mkdir(next));
    const TmpfsMount mount(disk, qint64(48) << 20, TmpfsMount::Kind::Ext4Image);
    QCOMPARE(mount.error(), QString());
    QFile filler(disk + "/filler");
    // Full to the last block, root's reserve too.
    QVERIFY(way != "full" || filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.isOpen() && filler.write(QByteArray(1 << 20, 'f')) > 0) {
    }
    const Packets packets(1000, 1000, 1000, 0);
    PacketBatch batch;
    for (const QByteArray& data : packets.data)
        batch.append(0, 1000, data);
    const auto fill = [&](PacketStore& store) {
        while (!store.isFull() && store.count() < 100000)
            store.append(batch);
        return store.shortage() == shortage &&
               store.bytes(store.count() - 1) == packets.data[(store.count() - 1) % 1000];
    };
    if (way == "fsize") {
        // The limit set on a child only: the program ignores SIGXFSZ, so it meets EFBIG.
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {16 << 20, 16 << 20};
            PacketStore store({disk});
            const bool kept = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 && fill(store);
            ::_exit(kept && store.count() * 1000 > (12 << 20) ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(QString::number(status)));
    } else if (way == "damaged") {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(next));
        PacketListModel model;
        qunsetenv("XDG_CACHE_HOME");
        model.OnPackets(batch);
        // Someone else writes over the store's file: every entry now leads nowhere.
        struct stat info = {};
        QFile file(storeFileIn(model.store().folder(), &info));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.write(QByteArray(info.st_size, 'Z')));
        file.close();
        for (int row = 0; row < model.rowCount(); ++row)
            QCOMPARE(model.text(row, PacketListModel::Data), QString(PacketStore::DamagedText));
    } else if (way == "full") {
        PacketStore store({disk, next});
        QCOMPARE(store.folder(), next);
        QCOMPARE(store.append(batch), batch.count());
    } else {
        PacketStore store({disk, next});
        QCOMPARE(store.folder(), disk);
        QVERIFY2(fill(store), qPrintable(QString::number(int(store.shortage()))));
        struct statfs fs = {};
        QVERIFY(::statfs(QFile::encodeName(disk), &fs) == 0 && fs.f_bavail >= fs.f_blocks / 20);
        // Clear List gives the space back: the store grows in the same place again.
        store.clear();
        QCOMPARE(store.append(batch), batch.count());
        QCOMPARE(store.folder(), disk);
    }
}

void tst_PacketStore::memoryGuard_data()
{
    // The files the guard reads, "path=content" apart by '|'; the machine has 8,192,000 bytes,
    // 4,096,000 of them available.
    QTest::addColumn<QString>("tree");
    QTest::addColumn<int>("available");
    const QString v1 = "proc/self/mountinfo=35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup "
                       "cgroup rw,memory|proc/self/cgroup=4:memory:/a/b\n0::/|";
    const QString v1a = v1 + "sys/fs/cgroup/memory/a/", v1b = v1a + "b/";
    const QString v2 = "proc/self/mountinfo=41 31 0:38 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw|"
                       "proc/self/cgroup=0::/a/b|";
    const QString v2a = v2 + "sys/fs/cgroup/a/", v2b = v2a + "b/";
    const QString none = "memory.limit_in_bytes=9223372036854771712";
    QTest::newRow("v1: limit less usage plus droppable")
        << v1b + "memory.limit_in_bytes=1000000|" + v1b + "memory.usage_in_bytes=600000|" + v1b +
               "memory.stat=total_inactive_file 100000|" + v1a + none
        << 500000;
    QTest::newRow("v1: an ancestor's limit")
        << v1b + none + "|" + v1a + "memory.limit_in_bytes=2000000|" + v1a +
               "memory.usage_in_bytes=1800000"
        << 200000;
    QTest::newRow("v2 mounted from a cgroup below the root: its limit")
        << QString(v2).replace(" / /sys", " /a /sys") +
               "sys/fs/cgroup/b/memory.max=max|"
               "sys/fs/cgroup/memory.max=512000|sys/fs/cgroup/memory.current=256000"
        << 256000;
    QTest::newRow("v2 without limits: the machine's")
        << v2b + "memory.max=max|" + v2a + "memory.max=max" << 4096000;
    QTest::newRow("v2, controller not enabled below a limit")
        << v2b + "cgroup.controllers=cpu io|" + v2a + "memory.max=1000000|" + v2a +
               "memory.current=24000"
        << 976000;
    QTest::newRow("v1 limit unreadable: a quarter kept back") << v1 << 2048000;
    QTest::newRow("v2 hierarchy not mounted: a quarter kept back")
        << QString(v2).replace("cgroup2 cgroup2", "tmpfs tmpfs") << 2048000;
    QTest::newRow("no /proc/self/cgroup: a quarter kept back") << QString() << 2048000;
    QTest::newRow("no memory controller: the machine's") << "proc/self/cgroup=1:cpu:/" << 4096000;
}

void tst_PacketStore::memoryGuard()
{
    QFETCH(QString, tree);
    QFETCH(int, available);
    QTemporaryDir root;
    for (const QString& file :
         (tree + "|proc/meminfo=MemTotal: 8000 kB\nMemAvailable: 4000 kB").split('|')) {
        const QString path = root.filePath(file.section('=', 0, 0));
        QFile out(path);
        QVERIFY(file.isEmpty() ||
                (QDir().mkpath(QFileInfo(path).path()) && out.open(QIODevice::WriteOnly) &&
                 out.write(file.section('=', 1).toUtf8()) >= 0));
    }
    QCOMPARE(MemoryWatch::availableBytes(root.path()), qint64(available));
}

QTEST_APPLESS_MAIN(tst_PacketStore)
#include "tst_packetstore.moc"
