#include "helpererrors.h"

#include "helperprotocol.h"

#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString CaptureGroup = QStringLiteral("kintosniffer");

bool readStats(const QString& line, CaptureStats* stats)
{
    HelperProtocol::Counts counts;
    const QByteArray text = line.toLatin1();
    if (!HelperProtocol::parseStatsLine(std::string_view(text.constData(), size_t(text.size())),
                                        &counts))
        return false;
    *stats = {counts.received, counts.dropped, counts.captured};
    return true;
}

// What the helper wrote, a line each, without its name in front.
QStringList linesOf(const QString& errorOutput)
{
    const QString prefix = QLatin1String(HelperProtocol::ProgramName) + QStringLiteral(": ");
    QStringList lines = errorOutput.split(u'\n', Qt::SkipEmptyParts);
    for (QString& line : lines) {
        if (line.startsWith(prefix))
            line.remove(0, prefix.size());
    }
    return lines;
}

// Its reason: every line but the counts.
QString reasonFrom(const QString& errorOutput)
{
    QStringList reasons;
    for (const QString& line : linesOf(errorOutput)) {
        CaptureStats ignored;
        if (!readStats(line, &ignored))
            reasons << line;
    }
    return reasons.join(u'\n');
}

bool groupOwns(const QString& helper)
{
    struct stat status;
    if (::stat(QFile::encodeName(helper).constData(), &status) != 0)
        return false;
    const group* owner = ::getgrgid(status.st_gid);
    return owner && CaptureGroup == QLatin1String(owner->gr_name);
}

QString userName()
{
    const passwd* user = ::getpwuid(::getuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("NAME");
}

// Why a capability the helper's file carries cannot take effect, or empty.
QString capabilityBlocked(const QString& helper)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            // Inherited by the helper: the kernel then ignores file capabilities.
            if (line.startsWith("NoNewPrivs:") && line.trimmed().endsWith('1'))
                return QStringLiteral("The capture helper %1 cannot take up its capability "
                                      "cap_net_raw: Kinto Sniffer was started with "
                                      "no-new-privileges (by a sandbox or a service manager), "
                                      "which keeps every program it starts from gaining one. "
                                      "Start it outside that sandbox.")
                    .arg(helper);
        }
    }
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(helper).constData(), &fs) == 0 && (fs.f_flag & ST_NOSUID))
        return QStringLiteral("The capture helper %1 cannot take up its capability cap_net_raw: "
                              "its file system is mounted nosuid, which ignores file "
                              "capabilities. Install or build Kinto Sniffer on a file system "
                              "mounted without nosuid.")
            .arg(helper);
    return {};
}

QString permissionHint(const QString& helper)
{
    const QString blocked = capabilityBlocked(helper);
    if (!blocked.isEmpty())
        return blocked;
    // Root is not offered: the helper needs this one capability and nothing more.
    return QStringLiteral("The capture helper %1 needs the capability cap_net_raw to capture; "
                          "grant it with \"sudo setcap cap_net_raw=p %1\".")
        .arg(helper);
}

} // namespace

namespace HelperErrors {

QString groupNeeded()
{
    return QStringLiteral("Capturing needs membership of the group %1. An administrator grants "
                          "it with \"sudo adduser %2 %1\"; then log out and in again.")
        .arg(CaptureGroup, userName());
}

QString cannotRun(const QString& helper, int error)
{
    if ((error == EACCES || error == EPERM) && groupOwns(helper))
        return groupNeeded();
    if (error == ENOENT)
        return QStringLiteral("The capture helper %1 is missing, so nothing can be captured. "
                              "Reinstall Kinto Sniffer.")
            .arg(helper);
    return QStringLiteral("The capture helper %1 cannot be run: %2")
        .arg(helper, QString::fromLocal8Bit(std::strerror(error)));
}

QString fromHelper(const QString& helper, int status, const QString& errorOutput)
{
    const QString reason = reasonFrom(errorOutput);
    // The window asks for a stop with SIGTERM only once it no longer reports how the helper
    // ended: any stop signal seen here came from someone else.
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == HelperProtocol::EndedFromOutside || signal == SIGTERM || signal == SIGINT ||
        signal == SIGHUP)
        return QStringLiteral("The capture was ended from outside Kinto Sniffer: its capture "
                              "helper %1 was stopped by a signal (a logout, an administrator or "
                              "another program); capture stopped.")
            .arg(helper);
    if (signal != 0)
        return QStringLiteral("The capture helper %1 ended unexpectedly (%2).")
            .arg(helper, QString::fromLocal8Bit(::strsignal(WTERMSIG(status))));
    if (code == HelperProtocol::NoPermission)
        return reason + u'\n' + permissionHint(helper);
    if (!reason.isEmpty())
        return reason;
    return QStringLiteral("The capture helper %1 ended unexpectedly (status %2).")
        .arg(helper)
        .arg(code);
}

QString noAnswer(const QString& helper, int seconds)
{
    return QStringLiteral("The capture helper %1 did not start capturing within %2 seconds and "
                          "was stopped.")
        .arg(helper)
        .arg(seconds);
}

QString noStop(const QString& helper)
{
    return QStringLiteral("The capture helper %1 did not end within a second of being asked to "
                          "stop and was killed; packets it still held are lost.")
        .arg(helper);
}

QString unreadable(const QString& helper)
{
    return QStringLiteral("The output of the capture helper %1 could not be read; capture "
                          "stopped.")
        .arg(helper);
}

bool statsFromLine(const QString& line, CaptureStats* stats)
{
    const QStringList lines = linesOf(line);
    return lines.size() == 1 && readStats(lines.first(), stats);
}

CaptureStats statsFrom(const QString& errorOutput)
{
    CaptureStats stats;
    for (const QString& line : linesOf(errorOutput))
        readStats(line, &stats);
    return stats;
}

} // namespace HelperErrors
