// Capturing as a user who may not capture, and through a capture helper that holds only
// cap_net_raw. The capture check and the helper run from copies in a directory of the test's
// own, laid out as installed (bin/ and libexec/kintosniffer/), so that the capability granted
// to the helper never reaches the build's files.
#include "pcapcapture.h"
#include "tmpfsmount.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

struct Outcome
{
    int exitCode = -1;
    QStringList lines;
};

// A capability that is set but cannot take effect: the refusal, then why, and no setcap advice.
void verifyExplainedWithoutSetcap(const Outcome& outcome, const char* why)
{
    const QString all = outcome.lines.join('\n');
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(outcome.lines.value(0).startsWith("No permission to capture on lo ("),
             qPrintable(all));
    QVERIFY2(outcome.lines.value(1).contains(why), qPrintable(all));
    QVERIFY2(!all.contains("setcap"), qPrintable(all));
}

QString findTool(const QString& name)
{
    // setcap lives in sbin, which a plain user's PATH may leave out.
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(
                                 name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                           : found;
}

} // namespace

class tst_FaultPermission : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noPermissionSaysHowToGrantIt();
    void captureRawIsEnough();
    void capabilityKeptFromEffectIsExplained();
    void nosuidMountIsExplained();

private:
    Outcome runAsNobody(const QStringList& restrictions = {}) const;
    Outcome runAsNobody(const QStringList& restrictions, const QString& check) const;
    bool grant(const QString& helper) const;
    bool copyLayout(const QString& root) const;

    QTemporaryDir m_dir;
    QString m_check;
    QString m_helper;
    QString m_setpriv;
    bool m_granted = false; // the helper's copy holds cap_net_raw=p
};

void tst_FaultPermission::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("running something as another user needs root (CI runs as root)");
    m_setpriv = findTool(QStringLiteral("setpriv"));
    if (m_setpriv.isEmpty())
        QSKIP("setpriv (util-linux) is missing");
    QVERIFY(m_dir.isValid());
    // The unprivileged user must be able to reach and run the copy.
    QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther));
    const QFile::Permissions runnable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QDir(m_dir.path()).mkpath("bin"));
    QVERIFY(QDir(m_dir.path()).mkpath("libexec/kintosniffer"));
    for (const char* dir : {"bin", "libexec", "libexec/kintosniffer"})
        QVERIFY(QFile::setPermissions(m_dir.filePath(dir), runnable));
    m_check = m_dir.filePath("bin/kinto_capturecheck");
    m_helper = m_dir.filePath("libexec/kintosniffer/kintosniffer-capture");
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/kinto_capturecheck", m_check));
    QVERIFY(QFile::copy(PcapCapture::helperPath(), m_helper));
    QVERIFY(QFile::setPermissions(m_check, runnable));
    QVERIFY(QFile::setPermissions(m_helper, runnable));
}

Outcome tst_FaultPermission::runAsNobody(const QStringList& restrictions) const
{
    return runAsNobody(restrictions, m_check);
}

Outcome tst_FaultPermission::runAsNobody(const QStringList& restrictions,
                                         const QString& check) const
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(m_setpriv, QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} +
                                 restrictions + QStringList{check});
    Outcome outcome;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        outcome.lines << QStringLiteral("<did not finish>");
        return outcome;
    }
    outcome.exitCode = process.exitCode();
    outcome.lines =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return outcome;
}

void tst_FaultPermission::noPermissionSaysHowToGrantIt()
{
    const Outcome outcome = runAsNobody();
    const QString all = outcome.lines.join('\n');
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.lines.size(), 2);
    QVERIFY2(outcome.lines[0].startsWith("No permission to capture on lo ("), qPrintable(all));

    // The advice is one sentence that can be followed as it stands.
    const QString advice = outcome.lines[1];
    QVERIFY2(advice.contains("\"sudo setcap cap_net_raw=p " + m_helper + "\""), qPrintable(advice));
    QVERIFY2(advice.endsWith('.'), qPrintable(advice));
    QVERIFY2(!advice.chopped(1).contains(QRegularExpression("[.!?](\\s|$)")), qPrintable(advice));
    QVERIFY2(!all.contains("root"), qPrintable(all)); // never the advice to run as root
}

void tst_FaultPermission::captureRawIsEnough()
{
    const QString setcap = findTool(QStringLiteral("setcap"));
    if (setcap.isEmpty())
        QSKIP("setcap (libcap2-bin) is missing");
    QProcess grant;
    grant.start(setcap, {"cap_net_raw=p", m_helper});
    QVERIFY(grant.waitForFinished(10000));
    if (grant.exitCode() != 0)
        QSKIP(qPrintable("this file system takes no file capabilities: " +
                         QString::fromLocal8Bit(grant.readAllStandardError())));
    m_granted = true;

    const Outcome outcome = runAsNobody();
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.lines.join('\n')));
    QCOMPARE(outcome.lines, QStringList{"captured"});
}

// A sandbox's no-new-privileges keeps the helper's file capability from taking effect: setcap
// would not help, and the message says what does.
void tst_FaultPermission::capabilityKeptFromEffectIsExplained()
{
    if (!m_granted)
        QSKIP("the helper's copy holds no file capability here (see captureRawIsEnough)");
    verifyExplainedWithoutSetcap(runAsNobody({"--no-new-privs"}), "no-new-privileges");
}

// bin/kinto_capturecheck and libexec/kintosniffer/kintosniffer-capture under root, runnable by
// anyone.
bool tst_FaultPermission::copyLayout(const QString& root) const
{
    const QFile::Permissions runnable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    QDir dir(root);
    if (!dir.mkpath("bin") || !dir.mkpath("libexec/kintosniffer"))
        return false;
    for (const char* sub : {"bin", "libexec", "libexec/kintosniffer"})
        QFile::setPermissions(dir.filePath(sub), runnable);
    const QString check = dir.filePath("bin/kinto_capturecheck");
    const QString helper = dir.filePath("libexec/kintosniffer/kintosniffer-capture");
    return QFile::copy(m_check, check) && QFile::copy(m_helper, helper) &&
           QFile::setPermissions(check, runnable) && QFile::setPermissions(helper, runnable);
}

bool tst_FaultPermission::grant(const QString& helper) const
{
    QProcess setcap;
    setcap.start(findTool(QStringLiteral("setcap")), {"cap_net_raw=p", helper});
    return setcap.waitForFinished(10000) && setcap.exitCode() == 0;
}

// A helper whose file system is mounted nosuid keeps its file capability on disk but never
// gets it: the message says so instead of advising setcap.
void tst_FaultPermission::nosuidMountIsExplained()
{
    if (!m_granted)
        QSKIP("the helper's copy holds no file capability here (see captureRawIsEnough)");
    const QString root = m_dir.filePath("nosuid");
    QVERIFY(QDir(m_dir.path()).mkpath("nosuid"));
    TmpfsMount mount(root, 64 << 20);
    if (!mount.error().isEmpty())
        QSKIP(qPrintable(mount.error()));
    QVERIFY(copyLayout(root));
    if (!grant(root + "/libexec/kintosniffer/kintosniffer-capture"))
        QSKIP("this tmpfs takes no file capabilities");
    QVERIFY(mount.makeNoSuid());
    verifyExplainedWithoutSetcap(runAsNobody({}, root + "/bin/kinto_capturecheck"),
                                 "mounted nosuid");
}

QTEST_GUILESS_MAIN(tst_FaultPermission)
#include "tst_faultpermission.moc"
