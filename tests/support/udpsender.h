#pragma once

#include <QByteArray>
#include <QtGlobal>

// Sends UDP datagrams to 127.0.0.1 from one socket, for tests that capture on the loopback
// adapter. Never addresses anything but the loopback.
class UdpSender
{
public:
    UdpSender();
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool send(quint16 port, const QByteArray& payload);
    quint16 localPort() const;

    // A port that nothing on this machine listens on at the moment of the call.
    static quint16 freePort();

private:
    int m_socket = -1;
};
