#ifndef BASE_THREADING_PREFS_TASK_POOL_H_
#define BASE_THREADING_PREFS_TASK_POOL_H_

#include "base/ref_counted.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/time/time_delta.h"

namespace base {

// Holds the process's "PrefsTaskPool", in which every preferences file has
// its own sequence. Made on first `GetPrefsTaskPool`; shut down and freed by
// the exit callbacks.
class PrefsTaskPool {
 public:
  static constexpr int kMaxThreads = 2;
  // How long shutdown waits for the pool's other holders before it lets go
  // regardless: a store that never releases must not hang the exit.
  static constexpr TimeDelta kLastReferenceWaitLimit =
      TimeDelta::FromSeconds(10);

  PrefsTaskPool();
  PrefsTaskPool(const PrefsTaskPool&) = delete;
  PrefsTaskPool& operator=(const PrefsTaskPool&) = delete;
  // Shuts the pool down unless that was done.
  ~PrefsTaskPool();

  // With the flag set, `Shutdown` waits until no sequence runner or worker
  // holds the pool any more, so that the last release happens here.
  bool wait_for_last_reference() const { return wait_for_last_reference_; }
  void set_wait_for_last_reference(bool wait) {
    wait_for_last_reference_ = wait;
  }

  // Null after `Shutdown`.
  const RefPtr<SequencedWorkerPool>& pool() const { return pool_; }

  // Shuts the pool down, waits as the flag says (sleeping 1 ms at first,
  // doubling up to 100 ms at a time, at most the wait limit), then releases
  // the pool.
  void Shutdown();

  void set_wait_limit_for_testing(TimeDelta limit) { wait_limit_ = limit; }

 private:
  void WaitForOtherHolders();

  bool wait_for_last_reference_ = false;
  RefPtr<SequencedWorkerPool> pool_;
  TimeDelta wait_limit_ = kLastReferenceWaitLimit;
};

// The process's holder, made on first use (a late caller waits while another
// thread makes it); made anew after the exit callbacks freed it.
PrefsTaskPool* GetPrefsTaskPool();

}  // namespace base

#endif  // BASE_THREADING_PREFS_TASK_POOL_H_
