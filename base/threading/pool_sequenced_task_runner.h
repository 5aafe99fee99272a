#ifndef BASE_THREADING_POOL_SEQUENCED_TASK_RUNNER_H_
#define BASE_THREADING_POOL_SEQUENCED_TASK_RUNNER_H_

#include <cstdint>

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/sequenced_worker_pool.h"

namespace base {

// The runner of one sequence of a `SequencedWorkerPool`: its tasks run one
// at a time, in order, on the pool's workers. Delayed tasks never block
// shutdown; immediate ones get the runner's behaviour.
class PoolSequencedTaskRunner : public SequencedTaskRunner {
 public:
  PoolSequencedTaskRunner(RefPtr<SequencedWorkerPool> pool, int32_t token,
                          SequencedWorkerPool::ShutdownBehavior behavior);

  bool PostTaskWithDelay(const SourceLocation& from_here, Closure task,
                         TimeDelta delay) override;
  // True on a worker of the pool while it runs (or releases) a task of this
  // sequence.
  bool IsOnOwnThread() const override;
  // Pool tasks never run nested: the same as `PostTaskWithDelay`.
  bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                    Closure task, TimeDelta delay) override;

  int32_t token() const { return token_; }

 private:
  ~PoolSequencedTaskRunner() override;

  RefPtr<SequencedWorkerPool> pool_;
  const int32_t token_;
  const SequencedWorkerPool::ShutdownBehavior behavior_;
};

}  // namespace base

#endif  // BASE_THREADING_POOL_SEQUENCED_TASK_RUNNER_H_
