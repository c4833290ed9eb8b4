#pragma once

#include <QString>

// One adapter as the capture component lists it.
struct CaptureAdapter
{
    QString name;        // the device name the backend opens ("eth0", "lo")
    QString description; // what a person reads in the adapter lists
};
