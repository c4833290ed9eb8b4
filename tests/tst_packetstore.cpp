#include "memorycgroup.h"
#include "packetbatch.h"
#include "packetstore.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <list>
#include <optional>
#include <thread>

#include <sys/stat.h>
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

// The store's file as the process holds it: "<folder>/#<inode> (deleted)" among its descriptors.
QString storeFileIn(const QString& folder, struct stat* info)
{
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : descriptors.entryList(QDir::Files | QDir::System)) {
        const QString target = QFile::symLinkTarget(descriptors.filePath(fd));
        if (target.startsWith(folder + "/#") && target.endsWith(" (deleted)") &&
            ::stat(QFile::encodeName(descriptors.filePath(fd)).constData(), info) == 0)
            return target;
    }
    return {};
}

} // namespace

class tst_PacketStore : public QObject
{
    Q_OBJECT

private slots:
    void batchesKeepEveryPacketAcrossChunks_data();
    void batchesKeepEveryPacketAcrossChunks();
    void readerOfEarlierEntriesRunsWhileAppending();
    void fileRules_data();
    void fileRules();
};

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
    QTemporaryDir dir;
    std::list<TmpfsMount> mounts;
    // Someone else: giving a folder away takes root, and nobody may give it to himself.
    const uid_t otherUser = ::geteuid() == 65534 ? 65533 : 65534;
    QStringList paths;
    for (const QString& kind : folders.split(' ')) {
        const QString path = dir.filePath(QString::number(paths.size()));
        paths.append(path);
        QVERIFY(kind == "file" ? QFile(path).open(QIODevice::WriteOnly)
                               : kind == "missing" || QDir().mkdir(path));
        if ((kind == "tmpfs" && !mounts.emplace_back(path, 16 << 20).error().isEmpty()) ||
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

QTEST_APPLESS_MAIN(tst_PacketStore)
#include "tst_packetstore.moc"
