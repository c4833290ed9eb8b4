#pragma once

#include <QtGlobal>

// Memory this process can still take before the kernel must kill something: the machine's
// MemAvailable, and for the memory cgroup the process is in (cgroup v1 or v2, and every
// ancestor with a limit), its limit less what it uses. The file pages a cgroup could drop
// count as free. Unknowns (no /proc, a cgroup folder that is not mounted) limit nothing.
namespace MemoryWatch {

// Bytes still to be had, as far as the machine and the cgroups tell.
qint64 availableBytes();

} // namespace MemoryWatch
