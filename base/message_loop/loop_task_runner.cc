#include "base/message_loop/loop_task_runner.h"

#include <windows.h>

#include <utility>

#include "base/message_loop/posted_task_queue.h"

namespace base {

LoopTaskRunner::LoopTaskRunner(RefPtr<PostedTaskQueue> incoming_queue)
    : incoming_queue_(std::move(incoming_queue)) {}

LoopTaskRunner::~LoopTaskRunner() = default;

bool LoopTaskRunner::PostTaskWithDelay(const SourceLocation& from_here,
                                       Closure task, TimeDelta delay) {
  return incoming_queue_->AddToIncomingQueue(from_here, std::move(task), delay,
                                             /*nestable=*/true);
}

bool LoopTaskRunner::PostNonNestableTaskWithDelay(
    const SourceLocation& from_here, Closure task, TimeDelta delay) {
  return incoming_queue_->AddToIncomingQueue(from_here, std::move(task), delay,
                                             /*nestable=*/false);
}

bool LoopTaskRunner::IsOnOwnThread() const {
  AutoLock lock(thread_id_lock_);
  return thread_id_ == GetCurrentThreadId();
}

void LoopTaskRunner::BindToCurrentThread() {
  AutoLock lock(thread_id_lock_);
  thread_id_ = GetCurrentThreadId();
}

}  // namespace base
