#include "packetbatch.h"
#include "packetstore.h"

#include <QTest>

#include <atomic>
#include <thread>

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

} // namespace

class tst_PacketStore : public QObject
{
    Q_OBJECT

private slots:
    void batchesKeepEveryPacketAcrossChunks_data();
    void batchesKeepEveryPacketAcrossChunks();
    void readerOfEarlierEntriesRunsWhileAppending();
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

QTEST_APPLESS_MAIN(tst_PacketStore)
#include "tst_packetstore.moc"
