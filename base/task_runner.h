#ifndef BASE_TASK_RUNNER_H_
#define BASE_TASK_RUNNER_H_

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/time/time_delta.h"

namespace base {

class SourceLocation;

// Runs posted closures on a thread or sequence: a thread's message loop, a
// worker-pool sequence or the system thread pool. Reference-counted; shared
// between the threads that post to it.
class TaskRunner {
 public:
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  // False when the task cannot run (the target is gone); the task is then
  // released without running. `from_here` must hold literals.
  virtual bool PostTaskWithDelay(const SourceLocation& from_here, Closure task,
                                 TimeDelta delay) = 0;
  // Whether the calling thread is the one the tasks run on.
  virtual bool IsOnOwnThread() const = 0;

  bool PostTask(const SourceLocation& from_here, Closure task);

  // For `RefPtr`.
  void AddRef() const;
  void Release() const;

 protected:
  TaskRunner() = default;
  virtual ~TaskRunner();
  // Runs when the last reference goes; the default deletes the runner.
  virtual void OnDestruct() const;

 private:
  mutable AtomicRefCount ref_count_{0};
};

// A runner whose tasks run one at a time, in posting order.
class SequencedTaskRunner : public TaskRunner {
 public:
  // The task must not run inside a nested run of a message loop.
  virtual bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                            Closure task, TimeDelta delay) = 0;

 protected:
  SequencedTaskRunner() = default;
  ~SequencedTaskRunner() override;
};

// Posts a non-nestable task that calls `deleter(object)` on `runner`. When
// the post fails the object is not deleted (and leaks), as a deletion on the
// wrong thread could be worse.
bool PostDeleteSoon(SequencedTaskRunner& runner,
                    const SourceLocation& from_here, void (*deleter)(void*),
                    void* object);

}  // namespace base

#endif  // BASE_TASK_RUNNER_H_
