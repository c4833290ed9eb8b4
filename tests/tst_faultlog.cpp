// The capture log cannot be written, reached through the main window: from File > Save Log and
// from the three places that offer the log by themselves (Clear List, Change UDP Port, closing
// the window). Whatever the cause, the user is told which file and why, is asked again, the
// rows stay unsaved when the user then gives up, and an older log of that name is untouched.
#include "fakewindow.h"
#include "packetlistmodel.h"
#include "unwritablelog.h"

#include <QAction>
#include <QDir>
#include <QTest>

namespace {

using Failure = UnwritableLog::Failure;
enum class Path { SaveLog, ClearList, ChangePort, Closing };

} // namespace

Q_DECLARE_METATYPE(Path)

class tst_FaultLog : public QObject
{
    Q_OBJECT

private slots:
    void failedLogThroughTheWindow_data();
    void failedLogThroughTheWindow();
};

void tst_FaultLog::failedLogThroughTheWindow_data()
{
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<Path>("path");
    const struct
    {
        const char* name;
        Failure failure;
    } failures[] = {{"no such directory", Failure::MissingDirectory},
                    {"name is a directory", Failure::NameIsDirectory},
                    {"/dev/full", Failure::DeviceFull},
                    {"read-only mount", Failure::ReadOnlyMount},
                    {"/proc/version", Failure::ProcFile}};
    const struct
    {
        const char* name;
        Path path;
    } paths[] = {{"Save Log", Path::SaveLog},
                 {"Clear List", Path::ClearList},
                 {"Change UDP Port", Path::ChangePort},
                 {"closing", Path::Closing}};
    for (const auto& f : failures) {
        for (const auto& p : paths)
            QTest::addRow("%s, %s", f.name, p.name) << f.failure << p.path;
    }
    // Gives up after a few seconds of waiting, so one path is enough.
    QTest::newRow("pipe whose reader stopped, Save Log") << Failure::StalledPipe << Path::SaveLog;
}

void tst_FaultLog::failedLogThroughTheWindow()
{
    QFETCH(Failure, failure);
    QFETCH(Path, path);
    const UnwritableLog place(failure);
    if (!place.error().isEmpty())
        QSKIP(qPrintable(place.error()));
    const QString fileName = place.fileName();

    FakeWindow h;
    QList<Packet> packets{Packet{1765000000000000, 50, "***[one]"},
                          Packet{1765000001000000, 50, "-**[two]"}};
    while (packets.size() < place.rowsNeeded())
        packets << Packet{1765000002000000, 50, "***[more]"};
    h.capture->deliver(packets);
    QVERIFY(h.probe.unsaved());

    const int before = int(h.dialogs->shown.size());
    if (path == Path::ClearList)
        h.dialogs->answerYes(); // "Are you sure?"
    if (path == Path::ChangePort)
        h.dialogs->typeText("5000");
    h.dialogs->typeText(fileName);
    h.dialogs->pressOk();     // the failure
    h.dialogs->cancelInput(); // asked again, the user gives up
    switch (path) {
    case Path::SaveLog:
        h.probe.action("savelog")->trigger();
        break;
    case Path::ClearList:
        h.probe.action("clearlist")->trigger();
        break;
    case Path::ChangePort:
        h.probe.action("changeport")->trigger();
        break;
    case Path::Closing:
        QVERIFY(h.window.close()); // never refused
        break;
    }

    QVERIFY2(h.dialogs->problems().isEmpty(), qPrintable(h.dialogs->problems()));
    const QList<ScriptedDialogs::Shown> shown = h.dialogs->shown.mid(before);
    const int first = path == Path::ClearList || path == Path::ChangePort ? 1 : 0;
    QCOMPARE(shown.size(), first + 3);
    QCOMPARE(shown[first].title, QString("Save log as ..."));
    const ScriptedDialogs::Shown& message = shown[first + 1];
    QCOMPARE(message.kind, ScriptedDialogs::Kind::Message);
    QCOMPARE(message.title, QString("Kinto Sniffer"));
    QVERIFY2(message.text.contains(QDir::toNativeSeparators(fileName)), qPrintable(message.text));
    QVERIFY2(message.text.contains(place.reason()), qPrintable(message.text));
    QVERIFY(!message.busy); // the busy cursor is gone before the user reads why
    QCOMPARE(shown[first + 2].title, QString("Save log as ..."));
    QCOMPARE(shown[first + 2].defaultText, fileName); // the name that failed, to correct
    QVERIFY(!h.dialogs->busy());

    QVERIFY(h.probe.unsaved());
    switch (path) {
    case Path::SaveLog:
        QCOMPARE(h.window.model().rowCount(), place.rowsNeeded());
        break;
    case Path::ClearList:
        QCOMPARE(h.window.model().rowCount(), 0); // clearing goes on once the user gives up
        break;
    case Path::ChangePort:
        QCOMPARE(h.probe.port(), QString("5000"));
        QCOMPARE(h.probe.state(), CaptureState::Running);
        break;
    case Path::Closing:
        QVERIFY(!h.window.isVisible());
        QVERIFY(!h.capture->isCapturing());
        break;
    }

    QCOMPARE(place.harm(), QString());
}

QTEST_MAIN(tst_FaultLog)
#include "tst_faultlog.moc"
