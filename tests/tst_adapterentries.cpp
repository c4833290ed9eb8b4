#include "adapterentries.h"

#include <QTest>

class tst_AdapterEntries : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
};

void tst_AdapterEntries::entries_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("list1");
    QTest::addColumn<QString>("combo");

    const QString scheduler = QStringLiteral("(Microsoft's Packet Scheduler)");
    QTest::newRow("36 spaces keep 3 in the drop-down")
        << 1 << "NIC" + QString(36, u' ') + scheduler << "(1) NIC" + QString(36, u' ') + scheduler
        << "(1) NIC" + QString(3, u' ') + scheduler;
    QTest::newRow("9 spaces keep 2") << 2 << "a" + QString(9, u' ') + "b"
                                     << "(2) a" + QString(9, u' ') + "b"
                                     << "(2) a  b";
    QTest::newRow("leading and trailing spaces go") << 12 << "  eth0  "
                                                    << "(12) eth0"
                                                    << "(12) eth0";
    QTest::newRow("a tab stays") << 3 << "\teth0"
                                 << "(3) \teth0"
                                 << "(3) \teth0";
    QTest::newRow("empty description") << 4 << ""
                                       << "(4) "
                                       << "(4) ";
}

void tst_AdapterEntries::entries()
{
    QFETCH(int, number);
    QFETCH(QString, description);
    QFETCH(QString, list1);
    QFETCH(QString, combo);
    QCOMPARE(AdapterEntries::list1Entry(number, description), list1);
    QCOMPARE(AdapterEntries::comboEntry(number, description), combo);
}

QTEST_APPLESS_MAIN(tst_AdapterEntries)
#include "tst_adapterentries.moc"
