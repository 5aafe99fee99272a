#include "base/metrics/thread_tally.h"

namespace base {

int GetTaskTrackingStatus() {
  return 0;
}

ThreadTally* GetOrCreateThreadTally() {
  return nullptr;
}

TaskBirth* RegisterTaskBirth(ThreadTally*, const SourceLocation&) {
  return nullptr;
}

void InitThreadTally(StringSlice) {}

uint32_t GetTaskTrackingTimeMs() {
  return 0;
}

void RecordTaskRunInTally(const PostedTask&, const TaskStopwatch&,
                          const TaskBirth*) {}

void TallyTaskDeath(ThreadTally*, const TaskBirth*, int32_t,
                    const TaskStopwatch&) {}

}  // namespace base
