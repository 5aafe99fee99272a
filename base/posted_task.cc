#include "base/posted_task.h"

#include <utility>

#include "base/metrics/thread_tally.h"

namespace base {

namespace {

// Births are registered only when task tracking profiles.
constexpr int kTaskTrackingProfiling = 2;

}  // namespace

PostedTask::PostedTask(const SourceLocation& posted_from, Closure task,
                       TickTime delayed_run_time, bool nestable)
    : posted_time(GetTaskTrackingTimeMs()),
      delayed_run_time(delayed_run_time),
      task(std::move(task)),
      posted_from(posted_from),
      nestable(nestable) {
  if (GetTaskTrackingStatus() > kTaskTrackingProfiling)
    birth = RegisterTaskBirth(GetOrCreateThreadTally(), posted_from);
}

PostedTask::PostedTask(PostedTask&& other) noexcept = default;
PostedTask& PostedTask::operator=(PostedTask&& other) noexcept = default;
PostedTask::~PostedTask() = default;

}  // namespace base
