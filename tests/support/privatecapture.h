#pragma once

#include "capturingwindow.h"
#include "privatenetwork.h"

#include <QString>

#include <memory>

class MainWindow;
class PacketListModel;

// The main window capturing through libpcap in a network namespace of the test's own (see
// PrivateNetwork): on its loopback, or on one end of a veth pair whose other end answers
// nothing. Nothing reaches a real network or another capture on the machine.
class PrivateCapture
{
public:
    static constexpr quint16 Port = 4111; // nothing else listens in the private namespace
    static inline const QString Veth = QStringLiteral("kfault0");

    // Why such a capture cannot be had here (it needs root), or empty; a test skips then.
    static QString unavailable();

    // Each returns an empty text once the window captures, else what went wrong.
    QString startOnLoopback();
    QString startOnVeth();

    // Sends count datagrams "***[n]" (n from 1) out of the veth end to its peer.
    bool sendToVethPeer(int count) const;

    PrivateNetwork& network() { return m_network; }
    CapturingWindow& capturing() const { return *m_capturing; }
    MainWindow& window() const { return m_capturing->window(); }
    const PacketListModel& model() const;

private:
    QString start(const QString& adapter);

    PrivateNetwork m_network; // outlives the window: the capture ends before the namespace
    std::unique_ptr<CapturingWindow> m_capturing;
};
