#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_THREAD_POOL_WAIT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_THREAD_POOL_WAIT_H_

#include <windows.h>

#include <atomic>

namespace installer {

// A wait of the system thread pool on one object. Unregistering is safe from
// several threads at once: the first caller does it, the others return.
class ScopedThreadPoolWait {
 public:
  ScopedThreadPoolWait() = default;
  ScopedThreadPoolWait(const ScopedThreadPoolWait&) = delete;
  ScopedThreadPoolWait& operator=(const ScopedThreadPoolWait&) = delete;
  // Waits for a running callback: never destroy it from its own callback
  // before Unregister(false), nor from a callback that runs on the wait
  // thread that serves it.
  ~ScopedThreadPoolWait();

  // An infinite wait with `flags` (WT_*); false, logged, on failure.
  bool Register(HANDLE object,
                WAITORTIMERCALLBACK callback,
                void* context,
                ULONG flags);
  // With `wait_for_callbacks`, returns once no callback of the wait runs.
  void Unregister(bool wait_for_callbacks);

 private:
  std::atomic<HANDLE> wait_{nullptr};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_THREAD_POOL_WAIT_H_
