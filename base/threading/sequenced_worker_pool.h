#ifndef BASE_THREADING_SEQUENCED_WORKER_POOL_H_
#define BASE_THREADING_SEQUENCED_WORKER_POOL_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/strings/string_slice.h"
#include "base/task_runner.h"
#include "base/time/time_delta.h"

namespace base {

class PoolWorker;
class SourceLocation;
class SyncEvent;

// Runs posted tasks on up to `max_threads` worker threads of its own, made on
// demand. Tasks of one sequence (see `PoolSequencedTaskRunner`) run one at a
// time, in the order of their time to run and posting; unsequenced tasks run
// on any free worker. Shared between threads; must be shut down before its
// last reference goes.
class SequencedWorkerPool : public TaskRunner {
 public:
  // What shutdown does with a task.
  enum class ShutdownBehavior : int32_t {
    // Dropped unless started; a running one is not waited for.
    kContinueIfRunning = 0,
    // Dropped unless started; a running one is waited for. Every delayed
    // task has it.
    kSkipIfPending = 1,
    // Still run after shutdown began, and waited for.
    kBlockShutdown = 2,
  };

  // Workers are named `thread_name_prefix` + "Worker" + number.
  SequencedWorkerPool(size_t max_threads, StringSlice thread_name_prefix);

  // The token of `name`, the same for the life of the pool; tokens are
  // unique across pools and never 0.
  int32_t GetNamedSequenceToken(StringSlice name);

  // Unsequenced; blocks shutdown unless delayed. False, with the task
  // released, once shutdown has begun.
  bool PostTaskWithDelay(const SourceLocation& from_here, Closure task,
                         TimeDelta delay) override;
  // Whether the calling thread is one of the pool's workers.
  bool IsOnOwnThread() const override;

  // Refuses all later posts, drops pending tasks that need not run, and
  // waits until no task that blocks shutdown is pending or running. Later
  // calls return at once.
  void Shutdown();

  // Whether sequence runners, or workers still in their loop, hold the
  // pool: its owner waits for them to let go before dropping the pool.
  bool IsHeldByRunnersOrWorkers() const;

  // Tests only: a stack reservation for workers started from now on (0 is
  // the process default), to make thread creation fail.
  void SetWorkerStackSizeForTesting(uint64_t stack_size);
  // Tests only: `event` is signalled when `Shutdown` begins to wait for
  // blocking tasks, so that a task released after it is waited for. It
  // must outlive the shutdown.
  void SetShutdownWaitEventForTesting(SyncEvent* event);

 protected:
  ~SequencedWorkerPool() override;
  // A worker cannot delete (join) its own pool: from a worker, deletion is
  // posted to the constructing thread's runner.
  void OnDestruct() const override;

 private:
  friend class PoolSequencedTaskRunner;
  friend class PoolWorker;
  class Inner;

  static void DeleteNow(void* pool);

  bool PostSequencedTask(int32_t token, ShutdownBehavior behavior,
                         const SourceLocation& from_here, Closure task,
                         TimeDelta delay);
  void ThreadLoop(PoolWorker& worker);
  void AddHolder();
  void RemoveHolder();

  RefPtr<SequencedTaskRunner> constructor_runner_;
  std::unique_ptr<Inner> inner_;
  std::atomic<int64_t> holder_count_{0};
};

// Runs `task` on the system thread pool (`task_is_slow` lets the system add
// threads), then `reply` on the calling thread's current runner. False, with
// both released unrun, when the task cannot be posted or the caller has no
// runner to reply to.
bool PostTaskAndReplyOnWorkerPool(const SourceLocation& from_here, Closure task,
                                  Closure reply, bool task_is_slow);

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_WORKER_POOL_H_
