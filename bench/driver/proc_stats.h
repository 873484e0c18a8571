#pragma once

#include <sys/types.h>

namespace bench {

/// User plus system CPU time of process @p pid in milliseconds, as /proc/PID/stat counts it
/// (clock-tick resolution, 10 ms). -1 when the process is gone.
double cpuMs(pid_t pid);

/// CPU time of all threads of @p pid in nanoseconds, from the scheduler's own accounting
/// (/proc/PID/task/TID/schedstat). -1 when unavailable.
long long cpuNs(pid_t pid);

/// Resident memory of @p pid in bytes; -1 when the process is gone.
long long residentBytes(pid_t pid);

} // namespace bench
