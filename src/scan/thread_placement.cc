#include "scan/thread_placement.h"

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

#ifdef __linux__
namespace {

// The processors the calling thread may run on; false where the system
// does not say.
bool allowedProcessors(cpu_set_t& allowed) {
  CPU_ZERO(&allowed);
  return sched_getaffinity(0, sizeof allowed, &allowed) == 0;
}

}  // namespace
#endif

int usableProcessors() {
#ifdef __linux__
  cpu_set_t allowed;
  if (allowedProcessors(allowed)) return CPU_COUNT(&allowed);
#endif
  return 1;
}

void placeBesideCaller(std::thread& thread) {
#ifdef __linux__
  cpu_set_t allowed;
  if (!allowedProcessors(allowed)) return;
  const int here = sched_getcpu();
  if (here < 0 || here >= CPU_SETSIZE || !CPU_ISSET(here, &allowed)) return;
  CPU_CLR(here, &allowed);
  if (CPU_COUNT(&allowed) == 0) return;  // a single processor: stay on it
  pthread_setaffinity_np(thread.native_handle(), sizeof allowed, &allowed);
#else
  (void)thread;
#endif
}
