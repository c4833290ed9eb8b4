#pragma once

#include <QByteArray>
#include <QtGlobal>

// One captured packet as the rest of the program sees it: when it was captured, its length on
// the wire, and the bytes that were captured. No header layout is assumed anywhere.
struct Packet
{
    qint64 timeUs = 0; // capture time, microseconds since the Unix epoch
    quint32 size = 0;  // length on the wire
    QByteArray data;   // the captured bytes
};
