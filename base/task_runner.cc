#include "base/task_runner.h"

#include "base/bind.h"
#include "base/location.h"

namespace base {

TaskRunner::~TaskRunner() = default;

bool TaskRunner::PostTask(const SourceLocation& from_here, Closure task) {
  return PostTaskWithDelay(from_here, std::move(task), TimeDelta());
}

void TaskRunner::AddRef() const {
  AtomicRefCountIncrement(ref_count_);
}

void TaskRunner::Release() const {
  if (AtomicRefCountDecrement(ref_count_))
    OnDestruct();
}

void TaskRunner::OnDestruct() const {
  delete this;
}

SequencedTaskRunner::~SequencedTaskRunner() = default;

bool PostDeleteSoon(SequencedTaskRunner& runner,
                    const SourceLocation& from_here, void (*deleter)(void*),
                    void* object) {
  return runner.PostNonNestableTaskWithDelay(
      from_here, BindFunction(deleter, object), TimeDelta());
}

}  // namespace base
