#ifndef BASE_MESSAGE_LOOP_POSTED_TASK_QUEUE_H_
#define BASE_MESSAGE_LOOP_POSTED_TASK_QUEUE_H_

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/closure.h"
#include "base/posted_task.h"
#include "base/ref_counted.h"
#include "base/threading/lock.h"
#include "base/time/time_delta.h"

namespace base {

class MessageLoop;
class MessagePump;
class SourceLocation;
class TaskAnnotator;

// The incoming queue of a message loop: any thread appends, the loop's
// thread takes everything at once. Shared by the loop and its task runners,
// so that posts outliving the loop fail instead of touching it.
class PostedTaskQueue : public RefCounted<PostedTaskQueue> {
 public:
  // The annotator is the loop's and lives as long as the loop.
  PostedTaskQueue(MessageLoop* loop, TaskAnnotator* annotator);

  // False, with `task` released unrun, once the loop is going away.
  bool AddToIncomingQueue(const SourceLocation& from_here, Closure task,
                          TimeDelta delay, bool nestable);
  bool PostPendingTask(PostedTask& task);
  // Swaps the incoming tasks with the empty `work_queue` (whose storage the
  // posters then reuse); returns the number of high-resolution tasks among
  // those posted since the last call.
  int32_t SwapInIncomingTasks(std::vector<PostedTask>* work_queue);

  // The loop, once bound: wakes the pump for tasks posted before.
  void StartScheduling(MessagePump* pump);
  // The loop, being destroyed: every later post fails. Waits for the posts
  // in flight, so none wakes the pump after this returns.
  void WillDestroyCurrentMessageLoop();

  void SetNextSequenceNumberForTesting(int32_t sequence_num);

 private:
  friend class RefCounted<PostedTaskQueue>;
  ~PostedTaskQueue();

  // False when the loop is gone. Sets `pump_to_wake` when the post must wake
  // the loop.
  bool AppendTask(PostedTask& task, MessagePump** pump_to_wake);

  int32_t high_resolution_task_count_ = 0;
  Lock incoming_queue_lock_;
  // Shared by posters while they wake the pump, exclusive while the loop
  // detaches.
  SRWLOCK message_loop_lock_ = SRWLOCK_INIT;
  std::vector<PostedTask> incoming_queue_;
  // Null once the loop is going away. Written under both locks, so either
  // one makes reading it safe.
  MessageLoop* message_loop_;
  TaskAnnotator* annotator_;
  // Set with `message_loop_` under the exclusive lock.
  MessagePump* pump_ = nullptr;
  int32_t next_sequence_num_ = 0;
  bool loop_scheduled_ = false;
  bool ready_for_scheduling_ = false;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_POSTED_TASK_QUEUE_H_
