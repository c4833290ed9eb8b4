// The capture log cannot be written, reached through the main window: from File > Save Log and
// from the three places that offer the log by themselves (Clear List, Change UDP Port, closing
// the window). Whatever the cause, the user is told which file and why, is asked again, the
// rows stay unsaved when the user then gives up, and an older log of that name is untouched.
#include "fakecapture.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "scripteddialogs.h"
#include "testfiles.h"
#include "tmpfsmount.h"
#include "windowprobe.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

enum class Failure {
    MissingDirectory,
    NameIsDirectory,
    DiskFull,
    ReadOnlyMount,
    ProcFile,
    StalledPipe
};
enum class Path { SaveLog, ClearList, ChangePort, Closing };

const QByteArray Older = "\"1\",\"an older log\",\"1\",\"Message\",\"keep me\"\r\n";

// Holds a FIFO's read end open and reads nothing, like a reader that has stopped. It lets go
// when the writer has given up, or after 20 s, so that a writer that never gives up fails the
// test instead of hanging it.
class StalledReader
{
public:
    explicit StalledReader(const QString& fifo)
        : m_fd(::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (m_fd >= 0)
            m_thread = std::thread([fd = m_fd] {
                pollfd hangUp{fd, 0, 0}; // reports only the writer's leaving
                ::poll(&hangUp, 1, 20000);
                ::close(fd);
            });
    }
    ~StalledReader()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
    std::thread m_thread;
};

} // namespace

Q_DECLARE_METATYPE(Failure)
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
    QTest::addColumn<QString>("reason"); // what the message must give as the reason
    const struct
    {
        const char* name;
        Failure failure;
        int reason;
    } failures[] = {{"no such directory", Failure::MissingDirectory, ENOENT},
                    {"name is a directory", Failure::NameIsDirectory, EISDIR},
                    {"/dev/full", Failure::DiskFull, ENOSPC},
                    {"read-only mount", Failure::ReadOnlyMount, EROFS},
                    // The file's own reason, not that of a file beside it that /proc refuses.
                    {"/proc/version", Failure::ProcFile, ::geteuid() == 0 ? EIO : EACCES}};
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
            QTest::addRow("%s, %s", f.name, p.name)
                << f.failure << p.path << qt_error_string(f.reason);
    }
    // Gives up after a few seconds of waiting, so one path is enough.
    QTest::newRow("pipe whose reader stopped, Save Log")
        << Failure::StalledPipe << Path::SaveLog
        << QString("Nothing more could be written to it for 3 seconds.");
}

void tst_FaultLog::failedLogThroughTheWindow()
{
    QFETCH(Failure, failure);
    QFETCH(Path, path);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    std::unique_ptr<TmpfsMount> mount;
    std::unique_ptr<StalledReader> reader;
    int rows = 2;
    QString fileName;
    QString older; // a file that must come through untouched
    switch (failure) {
    case Failure::MissingDirectory:
        fileName = dir.filePath("missing/log.csv");
        break;
    case Failure::NameIsDirectory:
        fileName = dir.filePath("folder");
        older = fileName + "/inside.csv";
        QVERIFY(QDir().mkpath(fileName));
        QVERIFY(writeFile(older, Older));
        break;
    case Failure::DiskFull:
        fileName = "/dev/full";
        break;
    case Failure::ReadOnlyMount:
        QVERIFY(QDir().mkpath(dir.filePath("mnt")));
        mount = std::make_unique<TmpfsMount>(dir.filePath("mnt"), 64 * 1024);
        if (!mount->error().isEmpty())
            QSKIP(qPrintable(mount->error()));
        fileName = dir.filePath("mnt/log.csv");
        older = fileName;
        QVERIFY(writeFile(older, Older));
        QVERIFY(mount->makeReadOnly());
        break;
    case Failure::ProcFile:
        fileName = "/proc/version";
        break;
    case Failure::StalledPipe:
        fileName = dir.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fileName).constData(), 0600), 0);
        reader = std::make_unique<StalledReader>(fileName);
        QVERIFY(reader->isOpen());
        rows = 5000; // far more than the pipe holds
        break;
    }

    auto* capture = new FakeCapture({"NIC (Microsoft's Packet Scheduler)"});
    auto* dialogs = new ScriptedDialogs;
    MainWindow window{std::unique_ptr<CaptureComponent>(capture),
                      std::unique_ptr<Dialogs>(dialogs)};
    WindowProbe probe(window);
    window.Form_Load();
    QList<Packet> packets{Packet{1765000000000000, 50, "***[one]"},
                          Packet{1765000001000000, 50, "-**[two]"}};
    while (packets.size() < rows)
        packets << Packet{1765000002000000, 50, "***[more]"};
    capture->deliver(packets);
    QVERIFY(probe.unsaved());

    const int before = int(dialogs->shown.size());
    if (path == Path::ClearList)
        dialogs->answerYes(); // "Are you sure?"
    if (path == Path::ChangePort)
        dialogs->typeText("5000");
    dialogs->typeText(fileName);
    dialogs->pressOk();     // the failure
    dialogs->cancelInput(); // asked again, the user gives up
    switch (path) {
    case Path::SaveLog:
        probe.action("savelog")->trigger();
        break;
    case Path::ClearList:
        probe.action("clearlist")->trigger();
        break;
    case Path::ChangePort:
        probe.action("changeport")->trigger();
        break;
    case Path::Closing:
        QVERIFY(window.close()); // never refused
        break;
    }

    QVERIFY2(dialogs->problems().isEmpty(), qPrintable(dialogs->problems()));
    const QList<ScriptedDialogs::Shown> shown = dialogs->shown.mid(before);
    const int first = path == Path::ClearList || path == Path::ChangePort ? 1 : 0;
    QCOMPARE(shown.size(), first + 3);
    QCOMPARE(shown[first].title, QString("Save log as ..."));
    const ScriptedDialogs::Shown& message = shown[first + 1];
    QCOMPARE(message.kind, ScriptedDialogs::Kind::Message);
    QCOMPARE(message.title, QString("Kinto Sniffer"));
    QVERIFY2(message.text.contains(QDir::toNativeSeparators(fileName)), qPrintable(message.text));
    QVERIFY2(message.text.contains(reason), qPrintable(message.text));
    QVERIFY(!message.busy); // the busy cursor is gone before the user reads why
    QCOMPARE(shown[first + 2].title, QString("Save log as ..."));
    QCOMPARE(shown[first + 2].defaultText, fileName); // the name that failed, to correct
    QVERIFY(!dialogs->busy());

    QVERIFY(probe.unsaved());
    switch (path) {
    case Path::SaveLog:
        QCOMPARE(window.model().rowCount(), rows);
        break;
    case Path::ClearList:
        QCOMPARE(window.model().rowCount(), 0); // clearing goes on once the user gives up
        break;
    case Path::ChangePort:
        QCOMPARE(probe.port(), QString("5000"));
        QCOMPARE(probe.state(), CaptureState::Running);
        break;
    case Path::Closing:
        QVERIFY(!window.isVisible());
        QVERIFY(!capture->isCapturing());
        break;
    }

    if (!older.isEmpty())
        QCOMPARE(readAll(older), Older);
    if (failure == Failure::DiskFull) {
        struct stat status;
        QCOMPARE(::stat("/dev/full", &status), 0);
        QVERIFY(S_ISCHR(status.st_mode)); // written in place, never replaced by a file
        QCOMPARE(status.st_rdev, makedev(1, 7));
    }
    if (failure == Failure::MissingDirectory)
        QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    if (failure == Failure::ReadOnlyMount)
        QCOMPARE(QDir(dir.filePath("mnt"))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"log.csv"}); // nothing left behind
}

QTEST_MAIN(tst_FaultLog)
#include "tst_faultlog.moc"
