#include "capturelog.h"
#include "logrecord.h"
#include "packetlistmodel.h"
#include "testfiles.h"
#include "testpackets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The record a row must become, put together here by hand from the row's known parts.
QByteArray expectedRecord(const PacketListModel& model, int row, const QByteArray& type,
                          const QByteArray& dataField)
{
    return '"' + QByteArray::number(row + 1) + "\",\"" +
           model.text(row, PacketListModel::Date).toLatin1() + "\",\"" +
           QByteArray::number(model.store().size(row)) + "\",\"" + type + "\",\"" + dataField +
           "\"\r\n";
}

bool isFifo(const QString& fileName)
{
    struct stat status;
    return ::stat(QFile::encodeName(fileName).constData(), &status) == 0 &&
           S_ISFIFO(status.st_mode);
}

// Reads a FIFO until its writer closes it. The read end is opened at once, so that the log
// writer finds a reader; closeAfterFirstData makes it go away early instead.
class FifoReader
{
public:
    FifoReader(const QString& fileName, bool closeAfterFirstData)
        : m_fd(::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK))
    {
        m_thread = std::thread([this, closeAfterFirstData] { run(closeAfterFirstData); });
    }
    ~FifoReader() { finish(); }
    bool isOpen() const { return m_fd >= 0; }
    QByteArray finish()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_received;
    }

private:
    void run(bool closeAfterFirstData)
    {
        if (m_fd < 0)
            return;
        char buffer[65536];
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, 10000);
            if (closeAfterFirstData)
                break;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                m_received.append(buffer, n);
            else if (n == 0 || errno != EAGAIN)
                break;
        }
        ::close(m_fd);
    }

    int m_fd;
    QByteArray m_received;
    std::thread m_thread;
};

} // namespace

class tst_CaptureLog : public QObject
{
    Q_OBJECT

private slots:
    void record_data();
    void record();
    void defaultFileName_data();
    void defaultFileName();
    void logHoldsEveryRowInListOrder();
    void highBytesGoOutAsTheyCameIn();
    void olderLogIsReplacedEntirely();
    void newLogGetsOrdinaryPermissions();
    void symlinkIsWrittenThrough();
    void pipeWithoutReaderFailsAtOnce();
    void pipeWithReaderReceivesTheLog();
    void pipeReaderLeavingEarlyIsAFailureNotACrash();
    void olderLogIsReplacedInPlaceWhereNoNewFileCanTakeItsName_data();
    void olderLogIsReplacedInPlaceWhereNoNewFileCanTakeItsName();
};

void tst_CaptureLog::record_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("example row") << QStringList{"7", "12/6/2026 2:05:09 PM", "75", "Message",
                                                "ab\r\ncd"}
                                 << QByteArray("\"7\",\"12/6/2026 2:05:09 PM\",\"75\",\"Message\","
                                               "\"ab{New Line}cd\"\r\n");
    QTest::newRow("two line breaks")
        << QStringList{"1", "d", "9", "Advertise", "[a]\r\nb\r\nc"}
        << QByteArray("\"1\",\"d\",\"9\",\"Advertise\",\"[a]{New Line}b{New Line}c\"\r\n");
    QTest::newRow("line breaks back to back")
        << QStringList{"1", "d", "9", "Message", "\r\n\r\n"}
        << QByteArray("\"1\",\"d\",\"9\",\"Message\",\"{New Line}{New Line}\"\r\n");
    QTest::newRow("lone CR") << QStringList{"2", "d", "9", "Message", "a\rb"}
                             << QByteArray("\"2\",\"d\",\"9\",\"Message\",\"a\rb\"\r\n");
    QTest::newRow("lone LF") << QStringList{"2", "d", "9", "Message", "a\nb"}
                             << QByteArray("\"2\",\"d\",\"9\",\"Message\",\"a\nb\"\r\n");
    QTest::newRow("LF CR is no pair") << QStringList{"2", "d", "9", "Message", "a\n\rb"}
                                      << QByteArray("\"2\",\"d\",\"9\",\"Message\",\"a\n\rb\"\r\n");
    QTest::newRow("CR before a pair") << QStringList{"2", "d", "9", "Message", "a\r\r\nb\r"}
                                      << QByteArray("\"2\",\"d\",\"9\",\"Message\","
                                                    "\"a\r{New Line}b\r\"\r\n");
    QTest::newRow("only the data field")
        << QStringList{"3", "x\r\ny", "9", "Message", "z"}
        << QByteArray("\"3\",\"x\r\ny\",\"9\",\"Message\",\"z\"\r\n");
    QTest::newRow("quotes unchanged")
        << QStringList{"4", "d", "9", "I'm here", "say \"hi\", \"\""}
        << QByteArray("\"4\",\"d\",\"9\",\"I'm here\",\"say \"hi\", \"\"\"\r\n");
    QTest::newRow("empty fields") << QStringList{"", "", "", "", ""}
                                  << QByteArray("\"\",\"\",\"\",\"\",\"\"\r\n");
    QTest::newRow("Latin-1 one byte each")
        << QStringList{"5", QString::fromLatin1("d\xE9"), "9", "License",
                       QString::fromLatin1("\x80\xA0\xDA\xFF")}
        << QByteArray("\"5\",\"d\xE9\",\"9\",\"License\",\"\x80\xA0\xDA\xFF\"\r\n");
    QTest::newRow("beyond Latin-1")
        << QStringList{"6",
                       QString::fromUtf8("6 d\xC3\xA9"
                                         "c. 2026 \xE2\x80\xAF"
                                         "14:05"),
                       "9", "Message", QString::fromUtf8("\xF0\x9F\x98\x80!")}
        << QByteArray("\"6\",\"6 d\xE9"
                      "c. 2026 ?14:05\",\"9\",\"Message\",\"?!\"\r\n");
}

void tst_CaptureLog::record()
{
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, expected);
    QByteArray bytes[LogRecord::FieldCount];
    LogRecord::Fields record;
    for (int i = 0; i < LogRecord::FieldCount; ++i)
        record[i] = bytes[i] = LogRecord::bytes(fields[i]);
    QByteArray out(LogRecord::room(record), Qt::Uninitialized);
    out.truncate(LogRecord::write(out.data(), record) - out.constData());
    QCOMPARE(out, expected);
}

void tst_CaptureLog::defaultFileName_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");

    QTest::newRow("afternoon") << "/opt/kinto" << QDateTime(QDate(2026, 12, 6), QTime(14, 5, 59))
                               << "/opt/kinto/KintoCapturelog2612061405.csv";
    QTest::newRow("midnight, single digits")
        << "/home/a b" << QDateTime(QDate(2001, 1, 2), QTime(0, 7, 0))
        << "/home/a b/KintoCapturelog0101020007.csv";
    QTest::newRow("last minute of a century")
        << "/x" << QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59))
        << "/x/KintoCapturelog9912312359.csv";
    QTest::newRow("year 2000") << "/x" << QDateTime(QDate(2000, 2, 29), QTime(12, 0))
                               << "/x/KintoCapturelog0002291200.csv";
    QTest::newRow("root directory")
        << "/" << QDateTime(QDate(2026, 12, 6), QTime(14, 5)) << "//KintoCapturelog2612061405.csv";
}

void tst_CaptureLog::defaultFileName()
{
    QFETCH(QString, directory);
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    QCOMPARE(CaptureLog::defaultFileName(directory, now), expected);
}

void tst_CaptureLog::logHoldsEveryRowInListOrder()
{
    struct Row
    {
        QString decoded;
        QByteArray type;
        QByteArrayView dataField;
        qint64 timeUs;
    };
    // The date text is made once per second of capture time; it must still be the list's.
    constexpr qint64 Second = 1765029909000000;
    const QList<Row> rows{
        {"***[Hi]", "Advertise", "[Hi]", Second},
        {"**-[here]", "I'm here", "[here]", Second + 999999},
        {"-**[gone]", "I'm gone", "[gone]", Second + 1000000},
        {"UUU[key]", "License", "[key]", Second - 1},
        {QString::fromLatin1("abc[x]\xDAy\xDAz"), "Message", "[x]{New Line}y{New Line}z", Second},
        {"abc[p\r\nq]", "Message", "[p{New Line}q]", Second + 86400000000},
        {"abc[lone\rCR]", "Message", "[lone\rCR]", -1500000},
        {"abc[lone\nLF]", "Message", "[lone\nLF]", 0},
        {"abc[say \"hi\"]", "Message", "[say \"hi\"]", Second},
        // The line break cut in two by the type's three characters: a lone LF stays.
        {QString::fromLatin1("UU\xDA[x]"), "Message", "\n[x]", Second},
    };
    PacketListModel model;
    for (const Row& row : rows)
        model.OnPackets(batchOf({messagePacket(row.decoded, row.timeUs)}));

    QTemporaryDir dir;
    const QString fileName = dir.filePath("log.csv");
    QCOMPARE(writeLog(model, fileName), QString());

    QByteArray expected;
    for (int i = 0; i < rows.size(); ++i)
        expected += expectedRecord(model, i, rows[i].type, rows[i].dataField.toByteArray());
    QCOMPARE(readAll(fileName), expected);
}

void tst_CaptureLog::highBytesGoOutAsTheyCameIn()
{
    QString decoded = "***[";
    QByteArray dataField = "[";
    for (int code = 0x80; code <= 0xFF; ++code) {
        decoded += QChar(code);
        // Byte 218 is the devices' line break: it goes out as the marker, like any line break.
        dataField += code == 0xDA ? QByteArray("{New Line}") : QByteArray(1, char(code));
    }
    const Packet packet = messagePacket(decoded);
    QCOMPARE(packet.data.right(128).at(0), '\x80'); // the bytes really are on the wire
    PacketListModel model;
    model.OnPackets(batchOf({packet}));

    QTemporaryDir dir;
    const QString fileName = dir.filePath("high.csv");
    QCOMPARE(writeLog(model, fileName), QString());
    QCOMPARE(readAll(fileName), expectedRecord(model, 0, "Advertise", dataField));
}

void tst_CaptureLog::olderLogIsReplacedEntirely()
{
    PacketListModel model;
    model.OnPackets(batchOf({messagePacket("***[new]")}));
    QTemporaryDir dir;
    const QString fileName = dir.filePath("log.csv");
    QVERIFY(writeFile(fileName, QByteArray(100000, 'o')));

    QCOMPARE(writeLog(model, fileName), QString());
    QCOMPARE(readAll(fileName), expectedRecord(model, 0, "Advertise", "[new]"));
}

void tst_CaptureLog::newLogGetsOrdinaryPermissions()
{
    PacketListModel model;
    model.OnPackets(batchOf({messagePacket("***[p]")}));
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("plain"), "x"));
    QCOMPARE(writeLog(model, dir.filePath("log.csv")), QString());
    QCOMPARE(QFile::permissions(dir.filePath("log.csv")),
             QFile::permissions(dir.filePath("plain")));
}

void tst_CaptureLog::symlinkIsWrittenThrough()
{
    PacketListModel model;
    model.OnPackets(batchOf({messagePacket("***[s]")}));
    QTemporaryDir dir;
    const QString target = dir.filePath("target.csv");
    QVERIFY(writeFile(target, "old"));
    QVERIFY(QFile::link(target, dir.filePath("link.csv")));

    QCOMPARE(writeLog(model, dir.filePath("link.csv")), QString());
    QVERIFY(QFileInfo(dir.filePath("link.csv")).isSymLink());
    QCOMPARE(readAll(target), expectedRecord(model, 0, "Advertise", "[s]"));
}

void tst_CaptureLog::pipeWithoutReaderFailsAtOnce()
{
    PacketListModel model;
    model.OnPackets(batchOf({messagePacket("***[f]")}));
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    const QString error = writeLog(model, fifo); // must not wait for a reader
    QVERIFY2(error.contains(fifo), qPrintable(error));
    QVERIFY(isFifo(fifo));
}

void tst_CaptureLog::pipeWithReaderReceivesTheLog()
{
    PacketListModel model;
    for (int n = 0; n < 5000; ++n)
        model.OnPackets(batchOf({messagePacket("***[" + QString::number(n) + "]")}));
    QTemporaryDir dir;
    QCOMPARE(writeLog(model, dir.filePath("file.csv")), QString());
    const QString fifo = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    FifoReader reader(fifo, false);
    QVERIFY(reader.isOpen());
    QCOMPARE(writeLog(model, fifo), QString());
    QCOMPARE(reader.finish(), readAll(dir.filePath("file.csv")));
    QVERIFY(isFifo(fifo));
}

void tst_CaptureLog::pipeReaderLeavingEarlyIsAFailureNotACrash()
{
    PacketListModel model;
    for (int n = 0; n < 50000; ++n) // far more than a pipe buffers
        model.OnPackets(batchOf({messagePacket("***[" + QString::number(n) + "]")}));
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    FifoReader reader(fifo, true);
    QVERIFY(reader.isOpen());
    const QString error = writeLog(model, fifo);
    reader.finish();
    QVERIFY2(error.contains(fifo), qPrintable(error));
    QVERIFY(isFifo(fifo));
}

void tst_CaptureLog::olderLogIsReplacedInPlaceWhereNoNewFileCanTakeItsName_data()
{
    QTest::addColumn<bool>("bindMounted"); // otherwise the user may not write the folder
    QTest::newRow("folder without write permission") << false;
    QTest::newRow("bind-mounted file") << true;
}

void tst_CaptureLog::olderLogIsReplacedInPlaceWhereNoNewFileCanTakeItsName()
{
    QFETCH(bool, bindMounted);
    const bool root = ::geteuid() == 0;
    if (bindMounted && !root)
        QSKIP("mounting needs root");
    PacketListModel model;
    model.OnPackets(batchOf({messagePacket("***[in place]")}));
    QTemporaryDir dir;
    const QString folder = dir.filePath("shared");
    const QString fileName = folder + "/log.csv";
    const QByteArray folderName = QFile::encodeName(folder);
    const QByteArray name = QFile::encodeName(fileName);
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(fileName, QByteArray(100000, 'o')));

    constexpr uid_t Nobody = 65534;
    const QByteArray source = QFile::encodeName(dir.filePath("source.csv"));
    if (bindMounted) {
        QVERIFY(writeFile(dir.filePath("source.csv"), "old"));
        QCOMPARE(::mount(source.constData(), name.constData(), nullptr, MS_BIND, nullptr), 0);
    } else if (root) { // root writes every folder: the save runs as a user given only the file
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        QCOMPARE(::chown(name.constData(), Nobody, Nobody), 0);
    } else {
        QCOMPARE(::chmod(folderName.constData(), 0555), 0);
    }
    const bool asNobody = !bindMounted && root;
    if (asNobody)
        QCOMPARE(::seteuid(Nobody), 0);
    const QString error = writeLog(model, fileName);
    if (asNobody)
        QCOMPARE(::seteuid(0), 0);
    if (bindMounted)
        ::umount2(name.constData(), MNT_DETACH);
    if (!bindMounted && !root)
        ::chmod(folderName.constData(), 0755);

    QCOMPARE(error, QString());
    const QByteArray expected = expectedRecord(model, 0, "Advertise", "[in place]");
    QCOMPARE(readAll(bindMounted ? dir.filePath("source.csv") : fileName), expected);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"log.csv"}); // no temporary file left behind
}

QTEST_GUILESS_MAIN(tst_CaptureLog)
#include "tst_capturelog.moc"
