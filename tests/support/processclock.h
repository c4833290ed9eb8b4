#pragma once

class QSignalSpy;

// CPU time of the whole process, every thread included, in seconds.
double processCpuSeconds();

// The share of one core the whole process used while waiting up to milliseconds for a signal
// that must not come; *signalled tells whether it came all the same.
double cpuShareWhileNotSignalled(QSignalSpy& spy, int milliseconds, bool* signalled);
