#include "fakewindow.h"
#include "modalhand.h"
#include "packetlistmodel.h"
#include "packetwindow.h"
#include "referencedecoder.h"
#include "testpackets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

namespace {

Packet packet(const char* hex)
{
    const QByteArray data = QByteArray::fromHex(hex);
    return Packet{1765000000000000, quint32(data.size()), data};
}

QString shownText(const Packet& p)
{
    PacketWindow window;
    window.setPacket(p);
    window.Form_Load();
    return window.text();
}

} // namespace

class tst_PacketWindow : public QObject
{
    Q_OBJECT

private slots:
    void wholeDecodedText_data();
    void wholeDecodedText();
    void sameTextAsTheListForAByteBelow16();
    void secondPacketReplacesTheFirst();
    void textFillsTheWindow();
    void doubleClickOpensTheSelectedRow();
    void noSelectedRowNoWindow();
    void everyShowingStartsAfresh();
};

void tst_PacketWindow::wholeDecodedText_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QString>("text");
    QTest::newRow("leading characters stay") << QByteArray("2A2A2A5B48695D") << "***[Hi]";
    QTest::newRow("218 breaks the line") << QByteArray("2A2A2D5B78DA6F6BDA21") << "**-[x\nok\n!";
    QTest::newRow("code 0 left out") << QByteArray("2A2A2A5B41000042") << "***[AB";
    QTest::newRow("license") << QByteArray("5555555531") << "UUUU1";
    // A byte below 16 has one hex digit, so bytes 0 and D6 give the digits 0D6: code 13.
    QTest::newRow("lone CR stays on the line")
        << QByteArray("2A2A2A5B6100D6250D") << QStringLiteral("***[a b]");
    QTest::newRow("lone LF stays on the line")
        << QByteArray("2A2A2A5B6100A6250D") << QStringLiteral("***[a b]");
    QTest::newRow("LF CR is no pair")
        << QByteArray("2A2A2A5B00A0D50D") << QStringLiteral("***[  ]");
    QTest::newRow("CR LF pair breaks the line") << QByteArray("2A2A2A5B00D0A50D") << "***[\n]";
    QTest::newRow("160 is no space")
        << QByteArray("2A2A2A5BA05D") << QStringLiteral(u"***[\u00A0]");
}

void tst_PacketWindow::wholeDecodedText()
{
    QFETCH(QByteArray, hex);
    QFETCH(QString, text);
    PacketWindow window;
    window.setPacket(packet(hex.constData()));
    window.Form_Load();
    QCOMPARE(window.hexText(), ReferenceDecoder::hexText(QByteArray::fromHex(hex)));
    QCOMPARE(window.text(), text);
}

void tst_PacketWindow::sameTextAsTheListForAByteBelow16()
{
    const Packet p = packet("2A2A2A5B0541DA42");
    PacketListModel model;
    model.OnPackets(batchOf({p}));
    QString listText = model.text(0, PacketListModel::Data);
    QCOMPARE(shownText(p), "***" + listText.replace("\r\n", "\n"));
}

void tst_PacketWindow::secondPacketReplacesTheFirst()
{
    PacketWindow window;
    window.setPacket(packet("2A2A2A5B4C6F6E676572206D657373616765"));
    window.Form_Load();
    window.setPacket(packet("2D2A2A5B5D"));
    window.Form_Load();
    QCOMPARE(window.text(), QString("-**[]"));
    QCOMPARE(window.hexText(), QString("2D2A2A5B5D"));
}

void tst_PacketWindow::textFillsTheWindow()
{
    PacketWindow window;
    window.setPacket(packet("2A2A2A5B48695D"));
    window.show();
    auto* text1 = window.findChild<QPlainTextEdit*>("Text1");
    for (const QSize size : {QSize(556, 288), QSize(900, 700), QSize(200, 120)}) {
        window.resize(size);
        QCOMPARE(text1->geometry(), window.rect());
    }
    window.showMaximized();
    QTRY_COMPARE(text1->geometry(), window.rect());
}

void tst_PacketWindow::doubleClickOpensTheSelectedRow()
{
    FakeWindow h;
    h.capture->deliver({packet("2A2A2A5B48695D"), packet("5555555531")});
    auto* list = h.window.findChild<QAbstractItemView*>("ListView1");
    list->setCurrentIndex(h.window.model().index(1, 0));

    QString seen;
    QString title;
    ModalHand hand([&](QWidget* modal) {
        title = modal->windowTitle();
        auto* text1 = modal->findChild<QPlainTextEdit*>("Text1");
        QVERIFY(text1);
        seen = text1->toPlainText();
        modal->close();
    });
    h.window.ListView1_DblClick();
    QVERIFY(hand.acted());
    QCOMPARE(title, QString("Packet"));
    QCOMPARE(seen, QString("UUUU1"));
}

void tst_PacketWindow::noSelectedRowNoWindow()
{
    FakeWindow h;
    h.capture->deliver({packet("2A2A2A5B48695D")});
    h.window.ListView1_DblClick(); // would block on a modal window if one opened
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_PacketWindow::everyShowingStartsAfresh()
{
    auto* capture = new FakeCapture({"NIC (Microsoft's Packet Scheduler)"});
    MainWindow window{std::unique_ptr<CaptureComponent>(capture),
                      std::unique_ptr<Dialogs>(new ScriptedDialogs)};
    window.Form_Load();
    capture->deliver({packet("2A2A2A5B48695D")});
    window.findChild<QAbstractItemView*>("ListView1")->setCurrentIndex(window.model().index(0, 0));

    bool openAfterEscape = false;
    QTimer::singleShot(0, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        QTest::keyClick(modal->findChild<QPlainTextEdit*>("Text1"), Qt::Key_Escape);
        openAfterEscape = modal->isVisible();
        modal->setWindowState(Qt::WindowMaximized); // as the user leaves it
        modal->close();
    });
    window.ListView1_DblClick();
    QVERIFY(openAfterEscape);

    Qt::WindowStates state;
    QRect shown;
    QTimer::singleShot(0, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        state = modal->windowState();
        shown = modal->geometry();
        modal->close();
    });
    window.ListView1_DblClick();
    QCOMPARE(state, Qt::WindowStates(Qt::WindowNoState));
    QCOMPARE(shown.size(), QSize(556, 288)); // 8340 x 4320 twips
    QCOMPARE(shown.center(), window.geometry().center());
}

QTEST_MAIN(tst_PacketWindow)
#include "tst_packetwindow.moc"
