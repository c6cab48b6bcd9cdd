// One thread kept for a whole phase and handed one task at a time. Starting
// a thread for every block of work costs a clone, a fresh stack and, on
// virtual machines, the first touches of its pages, again and again; a
// block of input takes about a millisecond to convert, so that overhead
// would show.
#ifndef SCANFIT_SCAN_HELPER_THREAD_H_
#define SCANFIT_SCAN_HELPER_THREAD_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct HelperThread {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<void()> task;  // guarded by mutex; empty when idle
  bool stopping = false;       // guarded by mutex
  std::thread thread;          // started with the first task

  HelperThread() = default;
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  ~HelperThread();

  // Runs `work` on the helper thread; the previous task must be finished.
  void start(std::function<void()> work);
  // Returns once the task last started has finished.
  void wait();

  void run();  // the helper thread's loop
};

#endif  // SCANFIT_SCAN_HELPER_THREAD_H_
