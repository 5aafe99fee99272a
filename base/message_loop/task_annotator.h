#ifndef BASE_MESSAGE_LOOP_TASK_ANNOTATOR_H_
#define BASE_MESSAGE_LOOP_TASK_ANNOTATOR_H_

#include <cstdint>

namespace base {

class PostedTask;

// Runs queued tasks with their diagnostics: the task-run activity record, the
// stopwatch and tally, and the trace flow from the post to the run.
class TaskAnnotator {
 public:
  // Called when `task` enters a queue (its sequence number is set).
  void DidQueueTask(const char* queue_function, const PostedTask& task);
  // Runs the task's closure and drops it.
  void RunTask(const char* queue_function, PostedTask& task);

  // The task that `RunTask` is running on the calling thread, or null.
  static const PostedTask* CurrentTaskForThread();

 private:
  uint64_t FlowId(const PostedTask& task) const;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_TASK_ANNOTATOR_H_
