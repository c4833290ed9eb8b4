#include "fakewindow.h"
#include "packetlistmodel.h"
#include "testpackets.h"

#include <QAction>
#include <QTest>

namespace {

const QString Prompt = "Enter New Port Number:\r\nCurrent Port: ";

struct Harness : FakeWindow
{
    using FakeWindow::FakeWindow;
    void changePort() { probe.action("changeport")->trigger(); }
};

} // namespace

class tst_PortChange : public QObject
{
    Q_OBJECT

private slots:
    void askForThePort();
    void nothingChanges_data();
    void nothingChanges();
    void acceptedPortRestartsCapture_data();
    void acceptedPortRestartsCapture();
    void changeWhileStoppedStarts();
    void unsavedRowsAreOfferedFirstAndCancelStillChanges();
    void portTheComponentRefuses();
    void noAdapterYet();
};

void tst_PortChange::askForThePort()
{
    Harness h;
    h.dialogs->cancelInput();
    h.changePort();
    QCOMPARE(h.dialogs->shown.size(), 1);
    QCOMPARE(h.dialogs->shown[0].title, QString("Change UDP Port"));
    QCOMPARE(h.dialogs->shown[0].text, Prompt + "4111");
    QCOMPARE(h.dialogs->shown[0].defaultText, QString("4111"));
}

void tst_PortChange::nothingChanges_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("cancel") << "" << false;
    QTest::newRow("same text") << "4111" << false;
    QTest::newRow("0") << "0" << true;
    QTest::newRow("-5") << "-5" << true;
    QTest::newRow("255001") << "255001" << true;
    QTest::newRow("abc") << "abc" << true;
}

void tst_PortChange::nothingChanges()
{
    QFETCH(QString, input);
    QFETCH(bool, invalid);
    Harness h;
    h.capture->m_calls.clear();
    h.dialogs->typeText(input);
    if (invalid)
        h.dialogs->pressOk();
    h.changePort();

    QCOMPARE(h.dialogs->problems(), QString());
    QCOMPARE(h.dialogs->shown.size(), invalid ? 2 : 1);
    if (invalid) {
        QCOMPARE(h.dialogs->shown[1].text, QString("Invalid Port"));
        QCOMPARE(h.dialogs->shown[1].title, QString("Change UDP Port"));
        QCOMPARE(h.dialogs->shown[1].icon, Dialogs::Icon::Information);
    }
    QCOMPARE(h.probe.port(), QString("4111"));
    QVERIFY(h.capture->m_calls.isEmpty());
    QCOMPARE(h.probe.state(), CaptureState::Running);
}

void tst_PortChange::acceptedPortRestartsCapture_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("captures"); // above 65535 passes the check, but libpcap refuses it
    QTest::newRow("1") << "1" << true;
    QTest::newRow("255000") << "255000" << false;
    QTest::newRow("leading space kept") << " 80" << true;
    QTest::newRow("leading zero kept") << "04111" << true;
}

void tst_PortChange::acceptedPortRestartsCapture()
{
    QFETCH(QString, input);
    QFETCH(bool, captures);
    Harness h;
    h.window.model().OnPackets(batchOf({Packet{0, 10, "***[a]"}}));
    h.window.set(false); // saved already
    h.capture->m_calls.clear();
    h.dialogs->typeText(input);
    if (!captures)
        h.dialogs->pressOk(); // the component's reason
    h.changePort();

    QCOMPARE(h.dialogs->problems(), QString());
    QCOMPARE(h.probe.port(), input);
    QCOMPARE(h.capture->m_calls, (QStringList{"stop", "filter port " + input, "start"}));
    QCOMPARE(h.probe.state(), captures ? CaptureState::Running : CaptureState::Ready);
    QCOMPARE(h.probe.panel(2), "Port: " + input);
    QCOMPARE(h.probe.panel(3), captures ? QString("Status: Running") : QString("Status: Stopped"));
    QCOMPARE(h.window.model().rowCount(), 1); // rows stay, numbering goes on
    h.window.model().OnPackets(batchOf({Packet{0, 10, "***[b]"}}));
    QCOMPARE(h.window.model().text(1, PacketListModel::No), QString("2"));
}

void tst_PortChange::changeWhileStoppedStarts()
{
    Harness h;
    h.probe.action("CaptureStop")->trigger();
    h.capture->m_calls.clear();
    h.dialogs->typeText("5000");
    h.changePort();
    QCOMPARE(h.capture->m_calls, (QStringList{"filter port 5000", "start"}));
    QCOMPARE(h.probe.state(), CaptureState::Running);
}

void tst_PortChange::unsavedRowsAreOfferedFirstAndCancelStillChanges()
{
    Harness h;
    h.capture->deliver({Packet{0, 10, "***[a]"}});
    QVERIFY(h.probe.unsaved());
    h.capture->m_calls.clear();
    h.dialogs->typeText("5000");
    h.dialogs->cancelInput(); // the export's file name
    h.changePort();

    QCOMPARE(h.dialogs->problems(), QString());
    QCOMPARE(h.dialogs->shown.size(), 2);
    QCOMPARE(h.dialogs->shown[1].title, QString("Save log as ..."));
    QCOMPARE(h.capture->m_calls, (QStringList{"stop", "filter port 5000", "start"}));
    QCOMPARE(h.probe.port(), QString("5000"));
    QVERIFY(h.probe.unsaved());
}

void tst_PortChange::portTheComponentRefuses()
{
    Harness h;
    const QString reason = "The capture filter \"port 70000\" cannot be used";
    h.dialogs->typeText("70000");
    h.dialogs->pressOk();
    h.changePort();

    QCOMPARE(h.dialogs->problems(), QString());
    QCOMPARE(h.dialogs->shown.last().text, reason);
    QCOMPARE(h.probe.state(), CaptureState::Ready);
    QCOMPARE(h.probe.panel(2), QString("Port: 70000"));
    QCOMPARE(h.probe.panel(3), QString("Status: Stopped"));
    QVERIFY(!h.capture->isCapturing());

    h.dialogs->pressOk();
    h.probe.action("CaptureStart")->trigger(); // the same reason until a usable port is set
    QCOMPARE(h.dialogs->shown.last().text, reason);
    QVERIFY(!h.capture->isCapturing());
}

void tst_PortChange::noAdapterYet()
{
    Harness h({"lo (Loopback)"}, FakeWindow::Load::AnswerAdapter);
    h.dialogs->typeText("80");
    h.dialogs->pressOk();
    h.changePort();

    QCOMPARE(h.dialogs->problems(), QString());
    QCOMPARE(h.dialogs->shown.last().text, QString("Select adapter from list"));
    QCOMPARE(h.probe.port(), QString("80"));
    QCOMPARE(h.probe.panel(2), QString("Port: 80"));
    QCOMPARE(h.probe.state(), CaptureState::NoAdapter);
    QCOMPARE(h.capture->m_calls, QStringList{"startup"});

    h.probe.chooseInCombo(0); // the port typed before is the one watched
    QCOMPARE(h.capture->m_filter, QString("port 80"));
}

QTEST_MAIN(tst_PortChange)
#include "tst_portchange.moc"
