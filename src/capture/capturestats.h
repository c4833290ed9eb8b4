#pragma once

#include <QtGlobal>

// The kernel's own counts for the current capture, and how many packets the capture handed on.
struct CaptureStats
{
    quint64 received = 0;
    quint64 dropped = 0;
    quint64 captured = 0;
};
