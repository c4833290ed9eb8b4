#pragma once

#include "capturestats.h"

#include <QString>

// Texts for the ways the capture helper can fail, written for the person at the bench: what
// failed, the helper's own (libpcap's) reason, and what to do about it where there is
// something to do.
namespace HelperErrors {

// The helper could not be started; error is the errno of the attempt.
QString cannotRun(const QString& helper, int error);
// The helper ended; status is its wait status and errorOutput what it wrote to standard error.
QString fromHelper(const QString& helper, int status, const QString& errorOutput);
QString noAnswer(const QString& helper, int seconds);
QString unreadable(const QString& helper);
// Asked to stop, the helper did not end in time and was killed.
QString noStop(const QString& helper);
// Capturing needs membership of the group that may run the helper.
QString groupNeeded();

// The kernel's counts from the helper's last words; zero when it gave none.
CaptureStats statsFrom(const QString& errorOutput);
// Reads one line of the helper's standard error; false when it is not its counts.
bool statsFromLine(const QString& line, CaptureStats* stats);

} // namespace HelperErrors
