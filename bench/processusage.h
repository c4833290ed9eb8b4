#pragma once

#include <QtGlobal>

// What the benchmark reads about its own process and the clock it shares with the sender.
namespace ProcessUsage {

// Resident memory (VmRSS of /proc/self/status) in KiB; 0 when it cannot be read.
qint64 residentKib();
// The same for another process of ours (the capture helper); 0 when it cannot be read.
qint64 residentKib(qint64 pid);
// Anonymous resident memory (RssAnon) in KiB: what the kernel cannot write back to a file.
qint64 anonymousKib();
// CPU time the whole machine spent busy (user, system, interrupts), every process and the
// kernel's own threads, such as its write-back, included; in seconds.
double machineCpuSeconds();
// User plus system CPU time of the whole process, every thread included, in seconds.
double cpuSeconds();
// The CPU time of another, single-threaded process of ours, to the nanosecond; 0 when it
// cannot be read.
double cpuSeconds(qint64 pid);
// The same for the calling thread alone.
double threadCpuSeconds();
// CLOCK_MONOTONIC in nanoseconds: the same clock in every process of the machine, so times
// taken by the sender and by the window can be subtracted.
qint64 monotonicNs();
// Time since this process was started by the kernel (to 1/100 s: the kernel's clock ticks).
qint64 sinceProcessStartNs();

} // namespace ProcessUsage
