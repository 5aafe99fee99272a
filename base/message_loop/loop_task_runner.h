#ifndef BASE_MESSAGE_LOOP_LOOP_TASK_RUNNER_H_
#define BASE_MESSAGE_LOOP_LOOP_TASK_RUNNER_H_

#include <cstdint>

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/lock.h"

namespace base {

class PostedTaskQueue;

// The task runner of a `MessageLoop`. It outlives the loop when others keep
// references; posts then fail and release their closures unrun.
class LoopTaskRunner : public SequencedTaskRunner {
 public:
  explicit LoopTaskRunner(RefPtr<PostedTaskQueue> incoming_queue);

  bool PostTaskWithDelay(const SourceLocation& from_here, Closure task,
                         TimeDelta delay) override;
  bool IsOnOwnThread() const override;
  bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                    Closure task, TimeDelta delay) override;

  // The loop binds its runner to the loop's thread.
  void BindToCurrentThread();

 private:
  ~LoopTaskRunner() override;

  RefPtr<PostedTaskQueue> incoming_queue_;
  uint32_t thread_id_ = 0;
  mutable Lock thread_id_lock_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_LOOP_TASK_RUNNER_H_
