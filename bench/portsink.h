#pragma once

#include <QtGlobal>

// A UDP socket bound to a free loopback port for the whole run. The burst goes to this port:
// holding it keeps anyone else from taking it, and a bound socket spares the kernel an ICMP
// "port unreachable" per datagram, which would double the loopback traffic. Nothing reads it;
// the kernel drops what does not fit its buffer, after the capture has seen it.
class PortSink
{
public:
    PortSink();
    ~PortSink();
    PortSink(const PortSink&) = delete;
    PortSink& operator=(const PortSink&) = delete;

    quint16 port() const { return m_port; } // 0 when no port could be bound

private:
    int m_socket = -1;
    quint16 m_port = 0;
};
