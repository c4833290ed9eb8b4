#include "packetbatch.h"
#include "packetlistmodel.h"
#include "testpackets.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {

Packet packet(const QByteArray& data, qint64 timeUs = 1765000000000000)
{
    return Packet{timeUs, quint32(data.size() + 42), data};
}

QByteArray numbered(int n)
{
    return "***[" + QByteArray::number(n) + "]\xDAHello";
}

} // namespace

class tst_PacketListModel : public QObject
{
    Q_OBJECT

private slots:
    void columns();
    void rowsAreNumberedFromOneAndMatchTheStore();
    void arrivalsAreAnnounced();
    void batchArrivesAsOneInsertInOrder();
    void numberingGoesOnPast32767();
    void lineBreaksStayInOneRow();
    void clearEmptiesEverythingAndRestartsNumbering();
    void dateShowsTheSecond();
};

void tst_PacketListModel::columns()
{
    PacketListModel model;
    QAbstractItemModelTester tester(&model);
    const QStringList titles{"No", "Date", "Size", "Type", "Data"};
    const QList<int> widths{800, 2500, 800, 1400, 5400};
    QCOMPARE(model.columnCount(), 5);
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), titles[c]);
        QCOMPARE(PacketListModel::columnWidthTwips(c), widths[c]);
    }
}

void tst_PacketListModel::rowsAreNumberedFromOneAndMatchTheStore()
{
    PacketListModel model;
    QAbstractItemModelTester tester(&model);
    for (int n = 1; n <= 50; ++n)
        model.OnPackets(batchOf({packet(numbered(n))}));

    QCOMPARE(model.rowCount(), 50);
    QCOMPARE(model.store().count(), 50);
    for (int row = 0; row < 50; ++row) {
        QCOMPARE(model.text(row, PacketListModel::No), QString::number(row + 1));
        QCOMPARE(model.store().bytes(row), numbered(row + 1));
        QCOMPARE(model.text(row, PacketListModel::Size),
                 QString::number(numbered(row + 1).size() + 42));
        QCOMPARE(model.text(row, PacketListModel::Type), QString("Advertise"));
        QCOMPARE(model.text(row, PacketListModel::Data),
                 "[" + QString::number(row + 1) + "]\r\nHello");
    }
}

void tst_PacketListModel::arrivalsAreAnnounced()
{
    PacketListModel model;
    QSignalSpy arrived(&model, &PacketListModel::packetsArrived);
    model.OnPackets(batchOf({packet("x")}));
    QCOMPARE(arrived.count(), 1);
    model.OnPackets(PacketBatch());
    QCOMPARE(arrived.count(), 1); // nothing arrived, nothing to save
}

void tst_PacketListModel::batchArrivesAsOneInsertInOrder()
{
    PacketListModel model;
    QAbstractItemModelTester tester(&model);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.OnPackets(batchOf({packet(numbered(1))}));

    PacketBatch batch;
    for (int n = 2; n <= 1000; ++n)
        batch.append(1765000000000000 + n, 100 + n, numbered(n));
    model.OnPackets(batch);

    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 1);
    QCOMPARE(inserted.at(1).at(2).toInt(), 999);
    QCOMPARE(model.rowCount(), 1000);
    for (int row = 1; row < 1000; ++row) {
        QCOMPARE(model.store().bytes(row), numbered(row + 1));
        QCOMPARE(model.store().size(row), quint32(101 + row));
        QCOMPARE(model.store().timeUs(row), 1765000000000000 + row + 1);
    }
}

void tst_PacketListModel::numberingGoesOnPast32767()
{
    PacketListModel model;
    PacketBatch batch;
    for (int n = 1; n <= 32768; ++n)
        batch.append(0, 1, "-**");
    model.OnPackets(batch);
    model.OnPackets(batchOf({packet("-**")}));
    QCOMPARE(model.rowCount(), 32769);
    QCOMPARE(model.text(32766, PacketListModel::No), QString("32767"));
    QCOMPARE(model.text(32767, PacketListModel::No), QString("32768"));
    QCOMPARE(model.text(32768, PacketListModel::No), QString("32769"));
}

void tst_PacketListModel::lineBreaksStayInOneRow()
{
    PacketListModel model;
    model.OnPackets(batchOf({packet(QByteArray::fromHex("6162632A2A2D5B785DDA6F6B"))}));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, PacketListModel::Data)).toString(), QString("[x]\r\nok"));
    QCOMPARE(model.data(model.index(0, PacketListModel::Type)).toString(), QString("I'm here"));
}

void tst_PacketListModel::clearEmptiesEverythingAndRestartsNumbering()
{
    PacketListModel model;
    QAbstractItemModelTester tester(&model);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    for (int n = 1; n <= 10; ++n)
        model.OnPackets(batchOf({packet(numbered(n))}));
    const QString before = model.text(3, PacketListModel::Data);

    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.store().count(), 0);

    model.OnPackets(batchOf({packet("UUUU9")}));
    QCOMPARE(model.text(0, PacketListModel::No), QString("1"));
    QCOMPARE(model.text(0, PacketListModel::Type), QString("License"));
    QVERIFY(before != model.text(0, PacketListModel::Data)); // no stale cached text
}

void tst_PacketListModel::dateShowsTheSecond()
{
    const QDateTime when(QDate(2026, 12, 6), QTime(14, 5, 9));
    DateTimeText text(QLocale::c());
    const QString shown = text.text(when.toMSecsSinceEpoch() * 1000 + 123456);
    QVERIFY2(shown.contains("14:05:09"), qPrintable(shown));
    QVERIFY2(shown.contains("26"), qPrintable(shown));
    QCOMPARE(text.text(when.toMSecsSinceEpoch() * 1000 + 999999), shown);
}

QTEST_GUILESS_MAIN(tst_PacketListModel)
#include "tst_packetlistmodel.moc"
