#include "base/threading/pool_sequenced_task_runner.h"

#include <utility>

#include "base/threading/pool_worker.h"

namespace base {

PoolSequencedTaskRunner::PoolSequencedTaskRunner(
    RefPtr<SequencedWorkerPool> pool, int32_t token,
    SequencedWorkerPool::ShutdownBehavior behavior)
    : pool_(std::move(pool)), token_(token), behavior_(behavior) {
  pool_->AddHolder();
}

PoolSequencedTaskRunner::~PoolSequencedTaskRunner() {
  // Before the member lets go, so that a waiting owner that sees no holder
  // left may already drop the pool.
  pool_->RemoveHolder();
}

bool PoolSequencedTaskRunner::PostTaskWithDelay(const SourceLocation& from_here,
                                                Closure task, TimeDelta delay) {
  // A delayed task must not hold shutdown up for the rest of its delay.
  const SequencedWorkerPool::ShutdownBehavior behavior =
      delay.is_zero() ? behavior_
                      : SequencedWorkerPool::ShutdownBehavior::kSkipIfPending;
  return pool_->PostSequencedTask(token_, behavior, from_here, std::move(task),
                                  delay);
}

bool PoolSequencedTaskRunner::IsOnOwnThread() const {
  const PoolWorker* worker = GetCurrentPoolWorker();
  return worker && worker->pool() == pool_.get() &&
         worker->is_processing_task() &&
         worker->task_sequence_token() == token_;
}

bool PoolSequencedTaskRunner::PostNonNestableTaskWithDelay(
    const SourceLocation& from_here, Closure task, TimeDelta delay) {
  return PostTaskWithDelay(from_here, std::move(task), delay);
}

}  // namespace base
