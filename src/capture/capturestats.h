#pragma once

#include <QtGlobal>

// The kernel's own counts for the current capture.
struct CaptureStats
{
    quint64 received = 0;
    quint64 dropped = 0;
};
