#include "processusage.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace ProcessUsage {

qint64 residentKib()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            std::sscanf(line + 6, "%lld", &kib);
            break;
        }
    }
    std::fclose(status);
    return kib;
}

namespace {

double cpuSecondsOf(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

double cpuSeconds()
{
    return cpuSecondsOf(RUSAGE_SELF);
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
