#include "processusage.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace ProcessUsage {

namespace {

// A field of /proc/PID/status ("VmRSS:"), in KiB.
qint64 statusKib(qint64 pid, const char* field)
{
    char path[64];
    if (pid > 0)
        std::snprintf(path, sizeof path, "/proc/%lld/status", static_cast<long long>(pid));
    else
        std::snprintf(path, sizeof path, "/proc/self/status");
    FILE* status = std::fopen(path, "r");
    if (!status)
        return 0;
    char line[256];
    long long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, std::strlen(field)) == 0) {
            std::sscanf(line + std::strlen(field), "%lld", &kib);
            break;
        }
    }
    std::fclose(status);
    return kib;
}

double cpuSecondsOf(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

qint64 residentKib()
{
    return statusKib(0, "VmRSS:");
}

qint64 residentKib(qint64 pid)
{
    return statusKib(pid, "VmRSS:");
}

qint64 anonymousKib()
{
    return statusKib(0, "RssAnon:");
}

double machineCpuSeconds()
{
    FILE* stat = std::fopen("/proc/stat", "r");
    if (!stat)
        return 0;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                       steal = 0;
    const int n = std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice,
                              &system, &idle, &iowait, &irq, &softirq, &steal);
    std::fclose(stat);
    if (n < 4)
        return 0;
    return double(user + nice + system + irq + softirq + steal) / double(sysconf(_SC_CLK_TCK));
}

double cpuSeconds()
{
    return cpuSecondsOf(RUSAGE_SELF);
}

double cpuSeconds(qint64 pid)
{
    // The first field of schedstat is the time the task ran, in nanoseconds: the ticks of
    // /proc/PID/stat (10 ms) would be too coarse for a helper that runs a fraction of a second.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/schedstat", static_cast<long long>(pid));
    FILE* schedstat = std::fopen(path, "r");
    if (!schedstat)
        return 0;
    unsigned long long ns = 0;
    if (std::fscanf(schedstat, "%llu", &ns) != 1)
        ns = 0;
    std::fclose(schedstat);
    return double(ns) / 1e9;
}

double threadCpuSeconds()
{
    return cpuSecondsOf(RUSAGE_THREAD);
}

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 sinceProcessStartNs()
{
    // Field 22 of /proc/self/stat is the start time in clock ticks after boot; the command
    // name before it may hold spaces, so fields are counted from its closing parenthesis.
    FILE* stat = std::fopen("/proc/self/stat", "r");
    if (!stat)
        return 0;
    char text[1024] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    text[n] = 0;
    const char* p = std::strrchr(text, ')');
    unsigned long long ticks = 0;
    for (int field = 2; p && field < 22; ++field)
        p = std::strchr(p + 1, ' ');
    if (!p || std::sscanf(p + 1, "%llu", &ticks) != 1)
        return 0;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const qint64 startNs = qint64(ticks) * 1000000000 / sysconf(_SC_CLK_TCK);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec - startNs;
}

} // namespace ProcessUsage
