#ifndef BASE_WORKER_POOL_H_
#define BASE_WORKER_POOL_H_

#include "base/closure.h"

namespace base {

class SourceLocation;

// Runs closures on the system thread pool.
class WorkerPool {
 public:
  WorkerPool() = delete;

  // `task_is_slow` lets the system add threads rather than queue behind it.
  // False, with the task released unrun, when the pool refuses the work.
  static bool PostTask(const SourceLocation& from_here, Closure task,
                       bool task_is_slow);

  // Whether the calling thread is running a task posted here.
  static bool RunsTasksOnCurrentThread();
};

}  // namespace base

#endif  // BASE_WORKER_POOL_H_
