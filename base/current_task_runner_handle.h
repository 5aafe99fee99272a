#ifndef BASE_CURRENT_TASK_RUNNER_HANDLE_H_
#define BASE_CURRENT_TASK_RUNNER_HANDLE_H_

#include "base/ref_counted.h"
#include "base/task_runner.h"

namespace base {

// Makes a runner the calling thread's current one for the handle's lifetime.
// A message loop installs one when it binds to its thread. Must be destroyed
// on the thread that made it.
class CurrentTaskRunnerHandle {
 public:
  explicit CurrentTaskRunnerHandle(RefPtr<SequencedTaskRunner> runner);
  CurrentTaskRunnerHandle(const CurrentTaskRunnerHandle&) = delete;
  CurrentTaskRunnerHandle& operator=(const CurrentTaskRunnerHandle&) = delete;
  ~CurrentTaskRunnerHandle();

  // The calling thread's runner, or null when it has no handle.
  static RefPtr<SequencedTaskRunner> Get();

 private:
  RefPtr<SequencedTaskRunner> runner_;
};

// The runner that a reply to the calling code should go to: the thread's
// current runner, else that of the worker-pool sequence whose task is
// running; null when there is neither.
RefPtr<SequencedTaskRunner> GetCurrentSequencedTaskRunner();

// The sequenced worker pool answers for its own workers: the runner of the
// sequence whose task the calling worker runs, or null on any other thread.
using PoolSequenceRunnerGetter = RefPtr<SequencedTaskRunner> (*)();
void SetPoolSequenceRunnerGetter(PoolSequenceRunnerGetter getter);

}  // namespace base

#endif  // BASE_CURRENT_TASK_RUNNER_HANDLE_H_
