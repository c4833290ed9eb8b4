#pragma once

#include <QString>

// Texts for libpcap's failures, written for the person at the bench: what failed, libpcap's own
// reason, and what to do about it where there is something to do.
namespace PcapErrors {

QString openFailed(const QString& device, const QString& reason);
QString activateFailed(const QString& device, int status, const QString& reason);
QString filterFailed(const QString& filter, const QString& reason);
QString captureEnded(const QString& device, const QString& reason);
QString permissionHint();

} // namespace PcapErrors
