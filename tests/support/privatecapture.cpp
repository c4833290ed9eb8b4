#include "privatecapture.h"

#include "mainwindow.h"
#include "packetlistmodel.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString Peer = QStringLiteral("kfault1");
// Addresses of the private namespace only; the peer end has no address and answers nothing.
const char* const OwnAddress = "10.231.0.1/30";
const char* const PeerAddress = "10.231.0.2";

} // namespace

QString PrivateCapture::unavailable()
{
    return ::geteuid() == 0
               ? QString()
               : QStringLiteral("needs root for a network namespace and capture (CI runs as root)");
}

QString PrivateCapture::startOnLoopback()
{
    return start(QStringLiteral("lo"));
}

QString PrivateCapture::startOnVeth()
{
    if (!m_network.error().isEmpty())
        return m_network.error();
    for (const QStringList& command :
         {QStringList{"link", "add", Veth, "type", "veth", "peer", "name", Peer},
          // Without ARP the datagrams leave at once, with no neighbour to ask first.
          QStringList{"link", "set", Veth, "arp", "off", "up"},
          QStringList{"link", "set", Peer, "up"},
          QStringList{"address", "add", OwnAddress, "dev", Veth}}) {
        const QString error = m_network.ip(command);
        if (!error.isEmpty())
            return error;
    }
    return start(Veth);
}

QString PrivateCapture::start(const QString& adapter)
{
    if (!m_network.error().isEmpty())
        return m_network.error();
    m_capturing = std::make_unique<CapturingWindow>();
    return m_capturing->start(adapter, QString::number(Port));
}

bool PrivateCapture::sendToVethPeer(int count) const
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(Port);
    ::inet_pton(AF_INET, PeerAddress, &to.sin_addr);
    bool sent = s >= 0;
    for (int n = 1; sent && n <= count; ++n) {
        const QByteArray payload = "***[" + QByteArray::number(n) + "]";
        sent = ::sendto(s, payload.constData(), size_t(payload.size()), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to) == payload.size();
    }
    if (s >= 0)
        ::close(s);
    return sent;
}

const PacketListModel& PrivateCapture::model() const
{
    return m_capturing->window().model();
}
