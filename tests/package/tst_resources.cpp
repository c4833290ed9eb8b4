#include <QIcon>
#include <QImage>
#include <QTest>

// The windows take their icon from the compiled-in resources; a missing or mis-sized image only
// shows as a blurred or blank icon, so the set is checked here.
class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void iconImage_data();
    void iconImage();
    void iconOffersEverySize();
};

void tst_Resources::iconImage_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");

    for (int size : {16, 24, 32, 48}) {
        const QString path = QStringLiteral(":/icons/kintosniffer-%1.png").arg(size);
        QTest::newRow(qPrintable(path)) << path << size;
    }
}

void tst_Resources::iconImage()
{
    QFETCH(QString, path);
    QFETCH(int, size);

    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
}

void tst_Resources::iconOffersEverySize()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/kintosniffer-%1.png").arg(size));

    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {16, 24, 32, 48})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
}

QTEST_MAIN(tst_Resources)
#include "tst_resources.moc"
