// One thread kept for a whole phase and handed one task at a time. Starting
// a thread for every block of work costs a clone, a fresh stack and, on
// virtual machines, the first touches of its pages, again and again; a
// block of input takes about a millisecond to convert, so that overhead
// would show.
//
// Between tasks, and while the caller waits for one, both sides poll for a
// short while before they sleep. A task takes about a millisecond and the
// gaps between tasks are shorter still; a thread that slept through each
// gap would leave its processor idle a thousand times a second, and some
// virtual machines answer that by running both threads' processors on one
// physical core until the load has lasted a while, which halves the speed
// of short runs. The polling is bounded, so a phase that stalls (a slow
// pipe, say) costs at most that much processor time per task, and it
// yields the processor to any other thread that wants it. With a single
// processor there is nothing to keep busy, and neither side polls.
#ifndef SCANFIT_SCAN_HELPER_THREAD_H_
#define SCANFIT_SCAN_HELPER_THREAD_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct HelperThread {
  // How long either side polls before it sleeps.
  static constexpr std::chrono::microseconds kPollBeforeSleep{2000};

  std::mutex mutex;
  std::condition_variable changed;
  std::function<void()> task;        // guarded by mutex
  std::atomic<bool> busy{false};     // `task` is set and not finished;
                                     // written under mutex
  std::atomic<bool> stopping{false}; // written under mutex
  std::thread thread;                // started with the first task
  bool polls = false;                // set when the thread starts

  HelperThread() = default;
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  ~HelperThread();

  // Runs `work` on the helper thread; the previous task must be finished.
  void start(std::function<void()> work);
  // Returns once the task last started has finished; what it wrote is
  // visible to the caller then.
  void wait();

  void run();  // the helper thread's loop
};

#endif  // SCANFIT_SCAN_HELPER_THREAD_H_
