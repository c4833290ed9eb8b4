#include "helpererrors.h"

#include "helperprotocol.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString CaptureGroup = QStringLiteral("kintosniffer");

const QRegularExpression& statsLine()
{
    static const QRegularExpression line(QStringLiteral("^(\\d+) packets received, (\\d+) dropped$"));
    return line;
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
        if (!statsLine().match(line).hasMatch())
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

QString permissionHint(const QString& helper)
{
    // Root is not offered: the helper needs this one capability and nothing more.
    return QStringLiteral("The capture helper %1 needs the capability cap_net_raw to capture; "
                          "grant it with \"sudo setcap cap_net_raw=ep %1\".")
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
    if (WIFSIGNALED(status))
        return QStringLiteral("The capture helper %1 ended unexpectedly (%2).")
            .arg(helper, QString::fromLocal8Bit(::strsignal(WTERMSIG(status))));
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

QString unreadable(const QString& helper)
{
    return QStringLiteral("The output of the capture helper %1 could not be read; capture "
                          "stopped.")
        .arg(helper);
}

CaptureStats statsFrom(const QString& errorOutput)
{
    CaptureStats stats;
    for (const QString& line : linesOf(errorOutput)) {
        const QRegularExpressionMatch m = statsLine().match(line);
        if (m.hasMatch())
            stats = {m.captured(1).toULongLong(), m.captured(2).toULongLong()};
    }
    return stats;
}

} // namespace HelperErrors
