#ifndef BASE_METRICS_THREAD_TALLY_H_
#define BASE_METRICS_THREAD_TALLY_H_

#include <cstdint>

#include "base/strings/string_slice.h"

namespace base {

class PostedTask;
class SourceLocation;
class TaskBirth;
class TaskStopwatch;
class ThreadTally;

// Task tracking: per-thread tallies of where tasks were posted and how long
// they waited and ran. It is off until diagnostics can turn it on, so the
// calls below make nothing and record nothing.

// The task-tracking status; posted tasks register their birth only above 2.
int GetTaskTrackingStatus();

// The calling thread's tally, or null while task tracking is off.
ThreadTally* GetOrCreateThreadTally();

// The birth record of tasks posted from `location`; null without a tally.
TaskBirth* RegisterTaskBirth(ThreadTally* tally,
                             const SourceLocation& location);

// Gives the calling thread a tally under `thread_name` unless it has one.
void InitThreadTally(StringSlice thread_name);

// Milliseconds on the task-tracking clock; 0 while timing is off.
uint32_t GetTaskTrackingTimeMs();

// Tallies a finished task's run for the running thread, when it has a birth.
void RecordTaskRunInTally(const PostedTask& task,
                          const TaskStopwatch& stopwatch,
                          const TaskBirth* birth);

// The same for the worker pool's threads, with the queue duration known.
void TallyTaskDeath(ThreadTally* tally, const TaskBirth* birth,
                    int32_t queue_duration_ms, const TaskStopwatch& stopwatch);

}  // namespace base

#endif  // BASE_METRICS_THREAD_TALLY_H_
