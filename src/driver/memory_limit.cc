#include "driver/memory_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

// A limit file's number; "max" and anything unreadable are no limit.
std::uint64_t limitIn(const std::string& file) {
  std::ifstream in(file);
  std::uint64_t value = 0;
  if (in >> value) return value;
  return UINT64_MAX;
}

// The least limit of the group at `path` under `root` and every group
// above it: a group's limit binds all the groups within it.
std::uint64_t groupLimit(const std::string& root, std::string path,
                         const char* limitFile) {
  std::uint64_t least = limitIn(root + path + "/" + limitFile);
  for (std::size_t slash; (slash = path.rfind('/')) != std::string::npos;) {
    path.resize(slash);
    least = std::min(least, limitIn(root + path + "/" + limitFile));
  }
  return least;
}

// Lines of /proc/self/cgroup: "0::/path" for the unified hierarchy (v2),
// "N:memory:/path" (among other controllers) for the memory one of v1.
std::uint64_t controlGroupLimit() {
  std::ifstream groups("/proc/self/cgroup");
  std::uint64_t least = UINT64_MAX;
  for (std::string line; std::getline(groups, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (controllers.empty())
      least = std::min(least, groupLimit("/sys/fs/cgroup", path, "memory.max"));
    else if (("," + controllers + ",").find(",memory,") != std::string::npos)
      least = std::min(least, groupLimit("/sys/fs/cgroup/memory", path,
                                         "memory.limit_in_bytes"));
  }
  return least;
}

std::uint64_t resourceLimit(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return UINT64_MAX;
  return limit.rlim_cur;
}

}  // namespace

std::uint64_t usableMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  const std::uint64_t physical =
      pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize)
                                : UINT64_MAX;
  return std::min({physical, controlGroupLimit(), resourceLimit(RLIMIT_AS),
                   resourceLimit(RLIMIT_DATA)});
}
