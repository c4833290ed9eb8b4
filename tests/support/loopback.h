#pragma once

#include <QString>

class CaptureComponent;

// What a capture on a loopback adapter holds of a UDP datagram: the payload behind an Ethernet,
// an IPv4 and a UDP header.
constexpr int LoopbackHeaders = 14 + 20 + 8;

// The index of the adapter with this device name ("lo") in the component's list; -1 if none.
int adapterIndex(const CaptureComponent& component, const QString& name);
