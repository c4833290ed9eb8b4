#include "adapterentries.h"
#include "portchange.h"

#include <QTest>

class tst_AdapterEntries : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
    void numericReading_data();
    void numericReading();
};

void tst_AdapterEntries::entries_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("list1");
    QTest::addColumn<QString>("combo1");

    const QString scheduler = "(Microsoft's Packet Scheduler)";
    QTest::newRow("36 spaces become 3 in the drop-down")
        << 1 << "NIC" + QString(36, ' ') + scheduler << "(1) NIC" + QString(36, ' ') + scheduler
        << "(1) NIC   " + scheduler;
    QTest::newRow("9 spaces become 2") << 2 << "a" + QString(9, ' ') + "b"
                                       << "(2) a" + QString(9, ' ') + "b"
                                       << "(2) a  b";
    QTest::newRow("trimmed at both ends") << 10 << "  lo (Loopback)   "
                                          << "(10) lo (Loopback)"
                                          << "(10) lo (Loopback)";
    QTest::newRow("only spaces are trimmed") << 3 << "\teth0 "
                                             << "(3) \teth0"
                                             << "(3) \teth0";
    QTest::newRow("empty") << 4 << ""
                           << "(4) "
                           << "(4) ";
}

void tst_AdapterEntries::entries()
{
    QFETCH(int, number);
    QFETCH(QString, description);
    QFETCH(QString, list1);
    QFETCH(QString, combo1);
    QCOMPARE(AdapterEntries::list1Entry(number, description), list1);
    QCOMPARE(AdapterEntries::comboEntry(number, description), combo1);
}

void tst_AdapterEntries::numericReading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("0") << "0" << 0.0 << false;
    QTest::newRow("-5") << "-5" << -5.0 << false;
    QTest::newRow("1") << "1" << 1.0 << true;
    QTest::newRow("255000") << "255000" << 255000.0 << true;
    QTest::newRow("255001") << "255001" << 255001.0 << false;
    QTest::newRow("abc") << "abc" << 0.0 << false;
    QTest::newRow("leading space") << " 80" << 80.0 << true;
    QTest::newRow("trailing letters") << "12abc" << 12.0 << true;
    QTest::newRow("fraction") << "4111.5" << 4111.5 << true;
    QTest::newRow("fraction below one") << "0.5" << 0.5 << false;
    QTest::newRow("plus sign") << "+80" << 80.0 << true;
    QTest::newRow("space inside ends it") << "8 0" << 8.0 << true;
    QTest::newRow("sign alone") << "-" << 0.0 << false;
}

void tst_AdapterEntries::numericReading()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(bool, accepted);
    const double read = PortChange::numericValue(text);
    QCOMPARE(read, value);
    QCOMPARE(read >= PortChange::LowestPort && read <= PortChange::HighestPort, accepted);
}

QTEST_APPLESS_MAIN(tst_AdapterEntries)
#include "tst_adapterentries.moc"
