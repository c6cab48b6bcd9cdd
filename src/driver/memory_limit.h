// The memory this process may use, for bounds that keep a hostile input
// from taking the machine's memory: past it, the kernel's out-of-memory
// killer may end this process or any other.
#ifndef SCANFIT_DRIVER_MEMORY_LIMIT_H_
#define SCANFIT_DRIVER_MEMORY_LIMIT_H_

#include <cstdint>

// The least of: physical memory, the memory limit of the process's control
// group and of every group above it (cgroup v2 memory.max, v1
// memory.limit_in_bytes), and the RLIMIT_AS and RLIMIT_DATA limits.
std::uint64_t usableMemory();

#endif  // SCANFIT_DRIVER_MEMORY_LIMIT_H_
