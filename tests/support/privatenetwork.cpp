#include "privatenetwork.h"

#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString systemError(const char* what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno));
}

bool bringLoopbackUp()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    ::close(s);
    return up;
}

} // namespace

PrivateNetwork::PrivateNetwork()
{
    if (::geteuid() != 0) {
        m_error = QStringLiteral("a network namespace of its own needs root");
        return;
    }
    // "ip" lives in sbin, which a plain user's PATH may leave out.
    m_ip = QStandardPaths::findExecutable(QStringLiteral("ip"));
    if (m_ip.isEmpty())
        m_ip = QStandardPaths::findExecutable(
            QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (m_ip.isEmpty()) {
        m_error = QStringLiteral("the \"ip\" tool (iproute2) is missing");
        return;
    }
    m_original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_original < 0) {
        m_error = systemError("cannot keep the current network namespace");
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        m_error = systemError("unshare(CLONE_NEWNET)");
        ::close(m_original);
        m_original = -1;
        return;
    }
    if (!bringLoopbackUp())
        m_error = systemError("cannot bring up the private loopback");
}

PrivateNetwork::~PrivateNetwork()
{
    if (m_original < 0)
        return;
    ::setns(m_original, CLONE_NEWNET);
    ::close(m_original);
}

QString PrivateNetwork::ip(const QStringList& arguments) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_ip, arguments);
    if (!process.waitForFinished(10000))
        return QStringLiteral("ip %1: did not finish").arg(arguments.join(' '));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("ip %1: %2")
            .arg(arguments.join(' '), QString::fromLocal8Bit(process.readAll()).trimmed());
    return {};
}
