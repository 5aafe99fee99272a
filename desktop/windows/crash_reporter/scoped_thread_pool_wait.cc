#include "desktop/windows/crash_reporter/scoped_thread_pool_wait.h"

#include "base/logging.h"

namespace installer {

ScopedThreadPoolWait::~ScopedThreadPoolWait() {
  Unregister(true);
}

bool ScopedThreadPoolWait::Register(HANDLE object,
                                    WAITORTIMERCALLBACK callback,
                                    void* context,
                                    ULONG flags) {
  HANDLE wait = nullptr;
  if (!::RegisterWaitForSingleObject(&wait, object, callback, context, INFINITE,
                                     flags)) {
    PLOG(ERROR) << "Cannot register a thread-pool wait";
    return false;
  }
  wait_.store(wait);
  return true;
}

void ScopedThreadPoolWait::Unregister(bool wait_for_callbacks) {
  HANDLE wait = wait_.exchange(nullptr);
  if (!wait)
    return;
  // Without waiting, the call reports ERROR_IO_PENDING while a callback
  // still runs; that is the expected outcome, not a failure.
  ::UnregisterWaitEx(wait, wait_for_callbacks ? INVALID_HANDLE_VALUE : nullptr);
}

}  // namespace installer
