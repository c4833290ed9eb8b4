#include "udpsender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

UdpSender::UdpSender() : m_socket(::socket(AF_INET, SOCK_DGRAM, 0))
{
    const sockaddr_in address = loopback(0);
    ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

UdpSender::~UdpSender()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

bool UdpSender::send(quint16 port, const QByteArray& payload)
{
    const sockaddr_in address = loopback(port);
    return ::sendto(m_socket, payload.constData(), size_t(payload.size()), 0,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address) == payload.size();
}

quint16 UdpSender::localPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

quint16 UdpSender::freePort()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = loopback(0);
    ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}
