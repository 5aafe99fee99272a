#ifndef BASE_POST_TASK_AND_REPLY_H_
#define BASE_POST_TASK_AND_REPLY_H_

#include "base/closure.h"
#include "base/location.h"

namespace base {

class TaskRunner;

// Posts the first step of a task-and-reply somewhere.
class PostTaskAndReplyRelay {
 public:
  virtual ~PostTaskAndReplyRelay() = default;
  virtual bool PostTask(const SourceLocation& from_here, Closure task) = 0;
};

// Posts to a task runner with no delay.
class TaskRunnerRelay : public PostTaskAndReplyRelay {
 public:
  explicit TaskRunnerRelay(TaskRunner& runner) : runner_(runner) {}
  bool PostTask(const SourceLocation& from_here, Closure task) override;

 private:
  TaskRunner& runner_;
};

// Posts to the system thread pool.
class WorkerPoolRelay : public PostTaskAndReplyRelay {
 public:
  explicit WorkerPoolRelay(bool task_is_slow) : task_is_slow_(task_is_slow) {}
  bool PostTask(const SourceLocation& from_here, Closure task) override;

 private:
  bool task_is_slow_;
};

// Runs `task` through `poster`, then `reply` on the calling thread's current
// sequenced runner. The task's bound values are destroyed before the reply
// runs. False, with both closures released unrun, when the caller has no
// current runner or the task cannot be posted. When the reply cannot be
// posted back (the caller's loop is gone) it never runs, and both closures
// are released on the task's thread.
bool PostTaskAndReplyCore(PostTaskAndReplyRelay& poster,
                          const SourceLocation& from_here, Closure task,
                          Closure reply);
bool PostTaskAndReply(TaskRunner& runner, const SourceLocation& from_here,
                      Closure task, Closure reply);

}  // namespace base

#endif  // BASE_POST_TASK_AND_REPLY_H_
