#include "boolunsavedflag.h"
#include "capturelog.h"
#include "logexport.h"
#include "logrecord.h"
#include "packetlistmodel.h"
#include "scripteddialogs.h"
#include "testfiles.h"
#include "testpackets.h"
#include "unwritablelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <latch>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QDateTime FixedNow(QDate(2026, 12, 6), QTime(14, 5, 9));

void addPackets(PacketListModel& model, int count)
{
    for (int n = 0; n < count; ++n)
        model.OnPackets(
            batchOf({messagePacket("***[" + QString::number(model.rowCount() + 1) + "]")}));
}

// What a log of the list's first rows holds, made from the texts the list shows.
QByteArray completeLog(const PacketListModel& model, int rows = -1)
{
    QByteArray log;
    for (int row = 0; row < (rows < 0 ? model.rowCount() : rows); ++row) {
        QByteArray bytes[LogRecord::FieldCount];
        LogRecord::Fields fields;
        for (int column = 0; column < LogRecord::FieldCount; ++column)
            fields[column] = bytes[column] = LogRecord::bytes(model.text(row, column));
        const qsizetype end = log.size();
        log.resize(end + LogRecord::room(fields));
        log.truncate(LogRecord::write(log.data() + end, fields) - log.constData());
    }
    return log;
}

// One list, flag, script and export, as the main window holds them.
struct Fixture
{
    PacketListModel model;
    ScriptedDialogs dialogs;
    BoolUnsavedFlag unsaved{true};
    LogExport exporter{model, dialogs, unsaved};

    Fixture()
    {
        exporter.setDirectory("/opt/kinto");
        exporter.setClock([] { return FixedNow; });
    }
};

class CurrentDirectory
{
public:
    explicit CurrentDirectory(const QString& path) : m_old(QDir::currentPath())
    {
        QDir::setCurrent(path);
    }
    ~CurrentDirectory() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

} // namespace

class tst_LogExport : public QObject
{
    Q_OBJECT

private slots:
    void asksWithTheDefaultName();
    void defaultNameLiesBesideTheExecutable_data();
    void defaultNameLiesBesideTheExecutable();
    void emptyListAsksNothing_data();
    void emptyListAsksNothing();
    void cancelWritesNothing();
    void savesEveryRowAndClearsTheFlag();
    void nameIsUsedAsTypedInTheCurrentDirectory();
    void savingTwiceWritesAllRowsAgain();
    void rowsArrivingWhileSavingStayUnsaved();
    void cancelKeepsOlderLogAndRowsUnsaved();
    void failureKeepsRowsUnsavedAndOlderLogIntact_data();
    void failureKeepsRowsUnsavedAndOlderLogIntact();
};

void tst_LogExport::asksWithTheDefaultName()
{
    Fixture f;
    addPackets(f.model, 1);
    f.dialogs.cancelInput();
    f.exporter.savelog_Click();

    QCOMPARE(f.dialogs.shown.size(), 1);
    const ScriptedDialogs::Shown& box = f.dialogs.shown.first();
    QCOMPARE(box.kind, ScriptedDialogs::Kind::Input);
    QCOMPARE(box.title, QString("Save log as ..."));
    QCOMPARE(box.text, QString("Enter File Name:\r\n(include .csv)"));
    QCOMPARE(box.defaultText, QString("/opt/kinto/KintoCapturelog2612061405.csv"));
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
}

void tst_LogExport::defaultNameLiesBesideTheExecutable_data()
{
    // Installed, the executable lies where the user may not create files: the name proposed
    // is then one in the user's documents folder, or home where there is none.
    using Failure = UnwritableLog::Failure;
    QTest::addColumn<bool>("writable");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<bool>("documents"); // whether the user has a documents folder
    QTest::newRow("build tree") << true << Failure::MissingDirectory << true;
    QTest::newRow("read-only file system") << false << Failure::ReadOnlyMountNewName << true;
    QTest::newRow("no such directory, no documents") << false << Failure::MissingDirectory << false;
}

void tst_LogExport::defaultNameLiesBesideTheExecutable()
{
    QFETCH(bool, writable);
    QFETCH(UnwritableLog::Failure, failure);
    QFETCH(bool, documents);
    if (!writable) {
        const UnwritableLog place(failure);
        if (!place.error().isEmpty())
            QSKIP(qPrintable(place.error()));
        QTemporaryDir home;
        // The folders of a user whose home is this one, with no folder settings of her own.
        const QByteArray realHome = qgetenv("HOME");
        const QByteArray realConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
        if (documents)
            QVERIFY(QDir(home.path()).mkdir("Documents"));
        const QString proposed = LogExport::proposedDirectory(QFileInfo(place.fileName()).path());
        qputenv("HOME", realHome);
        realConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", realConfig);
        QCOMPARE(proposed, documents ? home.filePath("Documents") : home.path());
        return;
    }

    PacketListModel model;
    ScriptedDialogs dialogs;
    BoolUnsavedFlag unsaved(true);
    LogExport exporter(model, dialogs, unsaved);
    addPackets(model, 1);
    dialogs.cancelInput();
    const QString before = QDateTime::currentDateTime().toString("yyMMddHHmm");
    exporter.savelog_Click();
    const QString after = QDateTime::currentDateTime().toString("yyMMddHHmm");

    QCOMPARE(dialogs.shown.size(), 1);
    const QString proposed = dialogs.shown.first().defaultText;
    const QString prefix = QCoreApplication::applicationDirPath() + "/KintoCapturelog";
    QVERIFY2(proposed == prefix + before + ".csv" || proposed == prefix + after + ".csv",
             qPrintable(proposed));
}

void tst_LogExport::emptyListAsksNothing_data()
{
    QTest::addColumn<bool>("unsaved");
    QTest::newRow("rows unsaved") << true;
    QTest::newRow("rows saved") << false;
}

void tst_LogExport::emptyListAsksNothing()
{
    QFETCH(bool, unsaved);
    Fixture f;
    f.unsaved.set(unsaved);
    f.exporter.savelog_Click();
    QVERIFY(f.dialogs.shown.isEmpty());
    QVERIFY(f.dialogs.busyCalls.isEmpty());
    QCOMPARE(f.unsaved.isSet(), unsaved);
}

void tst_LogExport::cancelWritesNothing()
{
    // A cancelled box and an emptied field give the same empty answer.
    QTemporaryDir dir;
    const CurrentDirectory current(dir.path());
    Fixture f;
    f.exporter.setDirectory(dir.path());
    addPackets(f.model, 3);
    f.dialogs.cancelInput();
    f.exporter.savelog_Click();

    QVERIFY(f.unsaved.isSet());
    QVERIFY(f.dialogs.busyCalls.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
}

void tst_LogExport::savesEveryRowAndClearsTheFlag()
{
    QTemporaryDir dir;
    Fixture f;
    addPackets(f.model, 20);
    f.dialogs.typeText(dir.filePath("capture.csv"));
    f.exporter.savelog_Click();

    QCOMPARE(readAll(dir.filePath("capture.csv")), completeLog(f.model));
    QVERIFY(!f.unsaved.isSet());
    QCOMPARE(f.dialogs.busyCalls, (QList<bool>{true, false}));
    QCOMPARE(f.dialogs.shown.size(), 1); // no message after a good save
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
}

void tst_LogExport::nameIsUsedAsTypedInTheCurrentDirectory()
{
    QTemporaryDir dir;
    const CurrentDirectory current(dir.path());
    Fixture f;
    addPackets(f.model, 2);
    f.dialogs.typeText("mylog");
    f.exporter.savelog_Click();

    QCOMPARE(readAll(dir.filePath("mylog")), completeLog(f.model));
    QVERIFY(!QFile::exists(dir.filePath("mylog.csv")));
    QVERIFY(!f.unsaved.isSet());
}

void tst_LogExport::savingTwiceWritesAllRowsAgain()
{
    QTemporaryDir dir;
    const QString fileName = dir.filePath("twice.csv");
    Fixture f;
    addPackets(f.model, 2);
    f.dialogs.typeText(fileName);
    f.exporter.savelog_Click();
    QVERIFY(!f.unsaved.isSet());

    addPackets(f.model, 1);
    f.unsaved.set(true); // as a new arrival does in the window
    f.dialogs.typeText(fileName);
    f.exporter.savelog_Click();

    const QByteArray log = readAll(fileName);
    QCOMPARE(log, completeLog(f.model));
    QCOMPARE(log.count("\r\n"), 3);
    QVERIFY(log.startsWith("\"1\","));
    QVERIFY(!f.unsaved.isSet());
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
}

void tst_LogExport::rowsArrivingWhileSavingStayUnsaved()
{
    // The log goes to a FIFO whose reader starts reading only once more packets have arrived,
    // so they arrive while the rows are being written.
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    Fixture f;
    addPackets(f.model, 5000); // far more than a pipe holds
    const QByteArray expected = completeLog(f.model);
    std::latch arrived(1);
    QByteArray received;
    std::thread reader([&] {
        arrived.wait();
        char buffer[65536];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 10000);
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                received.append(buffer, n);
            else if (n == 0 || errno != EAGAIN)
                break;
        }
    });
    QTimer::singleShot(0, [&] {
        addPackets(f.model, 3);
        arrived.count_down();
    });

    f.dialogs.typeText(fifo);
    f.exporter.savelog_Click();
    arrived.count_down(); // should the save have ended first, the reader still ends
    reader.join();
    ::close(fd);

    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
    QCOMPARE(f.dialogs.shown.size(), 1); // no failure
    QCOMPARE(f.model.rowCount(), 5003);
    QCOMPARE(received, expected); // the rows there were when the save began
    QVERIFY(f.unsaved.isSet());
}

void tst_LogExport::cancelKeepsOlderLogAndRowsUnsaved()
{
    QTemporaryDir dir;
    const QString fileName = dir.filePath("log.csv");
    QVERIFY(writeFile(fileName, UnwritableLog::Older));
    Fixture f;
    f.exporter.setProgressDelay(0);
    addPackets(f.model, 100);
    f.dialogs.typeText(fileName);
    f.dialogs.cancelProgress();
    f.exporter.savelog_Click();

    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
    QCOMPARE(f.dialogs.progressTitles, QStringList{"Save Log"});
    QCOMPARE(f.dialogs.shown.size(), 1); // neither a failure nor the question again
    QVERIFY(f.unsaved.isSet());
    QCOMPARE(readAll(fileName), UnwritableLog::Older);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"log.csv"}); // no temporary file left behind
    QVERIFY(!f.dialogs.busy());
}

void tst_LogExport::failureKeepsRowsUnsavedAndOlderLogIntact_data()
{
    using Failure = UnwritableLog::Failure;
    QTest::addColumn<Failure>("failure");
    QTest::newRow("no such directory") << Failure::MissingDirectory;
    QTest::newRow("name is a directory") << Failure::NameIsDirectory;
    QTest::newRow("device with no room") << Failure::DeviceFull;
    QTest::newRow("read-only location") << Failure::ReadOnlyMount;
    QTest::newRow("read-only location, new name") << Failure::ReadOnlyMountNewName;
    QTest::newRow("disk full") << Failure::DiskFull;
}

void tst_LogExport::failureKeepsRowsUnsavedAndOlderLogIntact()
{
    QFETCH(UnwritableLog::Failure, failure);
    const UnwritableLog place(failure);
    if (!place.error().isEmpty())
        QSKIP(qPrintable(place.error()));
    const QString fileName = place.fileName();
    Fixture f;
    // On the small file system, several times what it holds.
    addPackets(f.model, failure == UnwritableLog::Failure::DiskFull ? 5100 : 100);

    f.dialogs.typeText(fileName);
    f.dialogs.pressOk();
    f.dialogs.cancelInput(); // asked again after the failure
    f.exporter.savelog_Click();

    QVERIFY(f.unsaved.isSet());
    QVERIFY2(f.dialogs.problems().isEmpty(), qPrintable(f.dialogs.problems()));
    QCOMPARE(f.dialogs.shown.size(), 3);
    QCOMPARE(f.dialogs.shown[2].kind, ScriptedDialogs::Kind::Input);
    QCOMPARE(f.dialogs.shown[2].defaultText, fileName); // the name that failed, to correct
    const ScriptedDialogs::Shown& message = f.dialogs.shown[1];
    QCOMPARE(message.kind, ScriptedDialogs::Kind::Message);
    QCOMPARE(message.title, QString("Kinto Sniffer"));
    QCOMPARE(message.buttons, Dialogs::Buttons::Ok);
    QVERIFY2(message.text.contains(fileName), qPrintable(message.text));
    QVERIFY2(message.text.contains(place.reason()), qPrintable(message.text));
    QVERIFY(!message.busy);
    QCOMPARE(place.harm(), QString());
}

QTEST_GUILESS_MAIN(tst_LogExport)
#include "tst_logexport.moc"
