#pragma once

#include "captureadapter.h"

#include <QList>

namespace AdapterList {

// The devices libpcap reports that can carry IP traffic, in libpcap's order. When libpcap
// cannot list them, *error gets its reason and the list is empty.
QList<CaptureAdapter> find(QString* error);

} // namespace AdapterList
