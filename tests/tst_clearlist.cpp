#include "boolunsavedflag.h"
#include "clearlist.h"
#include "logexport.h"
#include "packetlistmodel.h"
#include "scripteddialogs.h"
#include "testpackets.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The list, flag and dialogs as the main window wires them, with three packets in the list.
struct Fixture
{
    PacketListModel model;
    ScriptedDialogs dialogs;
    BoolUnsavedFlag unsaved;
    LogExport exporter{model, dialogs, unsaved};
    ClearList clearList{model, dialogs, unsaved, exporter};
    QSignalSpy reset{&model, &QAbstractItemModel::modelReset};
    QSignalSpy removed{&model, &QAbstractItemModel::rowsRemoved};

    explicit Fixture(bool unsavedRows, int rows = 3) : unsaved(unsavedRows)
    {
        for (int n = 1; n <= rows; ++n)
            model.OnPackets(batchOf({messagePacket("***[" + QString::number(n) + "]")}));
    }

    bool isCleared() const
    {
        return model.rowCount() == 0 && model.store().count() == 0 && reset.count() == 1 &&
               removed.isEmpty();
    }
};

void verifyConfirmation(const ScriptedDialogs::Shown& shown)
{
    QCOMPARE(shown.kind, ScriptedDialogs::Kind::Message);
    QCOMPARE(shown.title, QString("Clear List"));
    QCOMPARE(shown.text, QString("Are you sure?"));
    QCOMPARE(shown.buttons, Dialogs::Buttons::YesNo);
}

} // namespace

class tst_ClearList : public QObject
{
    Q_OBJECT

private slots:
    void emptyListAsksNothing();
    void noLeavesEverything();
    void yesWithSavedRowsClearsWithoutOffer();
    void yesWithUnsavedRowsOffersTheLogFirst();
    void declinedLogStillClearsAndRowsStayUnsaved();
    void failedLogIsAskedAgainBeforeClearing();
    void failedLogThenCancelStillClears();
};

void tst_ClearList::emptyListAsksNothing()
{
    Fixture f(true, 0);
    f.clearList.clearlist_Click();
    QVERIFY(f.dialogs.shown.isEmpty());
    QVERIFY(f.unsaved.isSet());
    QCOMPARE(f.reset.count(), 0);
}

void tst_ClearList::noLeavesEverything()
{
    Fixture f(true);
    f.dialogs.answerNo();
    f.clearList.clearlist_Click();

    QCOMPARE(f.dialogs.shown.size(), 1);
    verifyConfirmation(f.dialogs.shown.first());
    QCOMPARE(f.model.rowCount(), 3);
    QCOMPARE(f.model.store().count(), 3);
    QCOMPARE(f.model.text(2, PacketListModel::No), QString("3"));
    QCOMPARE(f.reset.count(), 0);
    QVERIFY(f.unsaved.isSet());
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
}

void tst_ClearList::yesWithSavedRowsClearsWithoutOffer()
{
    Fixture f(false);
    f.dialogs.answerYes();
    f.clearList.clearlist_Click();

    QCOMPARE(f.dialogs.shown.size(), 1);
    verifyConfirmation(f.dialogs.shown.first());
    QVERIFY(f.isCleared());
    QVERIFY(!f.unsaved.isSet());
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));

    f.model.OnPackets(batchOf({messagePacket("***[after]")}));
    QCOMPARE(f.model.text(0, PacketListModel::No), QString("1"));
}

void tst_ClearList::yesWithUnsavedRowsOffersTheLogFirst()
{
    QTemporaryDir dir;
    Fixture f(true);
    f.dialogs.answerYes();
    f.dialogs.typeText(dir.filePath("before-clear.csv"));
    f.clearList.clearlist_Click();

    QCOMPARE(f.dialogs.shown.size(), 2);
    verifyConfirmation(f.dialogs.shown.at(0));
    QCOMPARE(f.dialogs.shown.at(1).title, QString("Save log as ..."));
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
    QVERIFY(f.isCleared());
    QVERIFY(!f.unsaved.isSet());

    QFile log(dir.filePath("before-clear.csv"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray written = log.readAll();
    QCOMPARE(written.count("\r\n"), 3); // written while the rows were still there
    QVERIFY(written.contains("\"[3]\"\r\n"));
}

void tst_ClearList::declinedLogStillClearsAndRowsStayUnsaved()
{
    Fixture f(true);
    f.dialogs.answerYes();
    f.dialogs.cancelInput();
    f.clearList.clearlist_Click();

    QVERIFY(f.isCleared());
    QVERIFY(f.unsaved.isSet());

    // With the list empty nothing is offered again, unsaved or not.
    f.exporter.savelog_Click();
    f.clearList.clearlist_Click();
    QCOMPARE(f.dialogs.shown.size(), 2);
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
}

void tst_ClearList::failedLogIsAskedAgainBeforeClearing()
{
    QTemporaryDir dir;
    Fixture f(true);
    f.dialogs.answerYes();
    f.dialogs.typeText(dir.filePath("missing/log.csv"));
    f.dialogs.pressOk();
    f.dialogs.typeText(dir.filePath("log.csv")); // a place that works, chosen after the error
    f.clearList.clearlist_Click();

    QCOMPARE(f.dialogs.shown.size(), 4);
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
    QVERIFY(f.isCleared());
    QVERIFY(!f.unsaved.isSet());
    QVERIFY(QFileInfo(dir.filePath("log.csv")).size() > 0);
}

void tst_ClearList::failedLogThenCancelStillClears()
{
    QTemporaryDir dir;
    Fixture f(true);
    f.dialogs.answerYes();
    f.dialogs.typeText(dir.filePath("missing/log.csv"));
    f.dialogs.pressOk();
    f.dialogs.cancelInput();
    f.clearList.clearlist_Click();

    QCOMPARE(f.dialogs.shown.size(), 4);
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
    QVERIFY(f.isCleared());
    QVERIFY(f.unsaved.isSet());
}

QTEST_GUILESS_MAIN(tst_ClearList)
#include "tst_clearlist.moc"
