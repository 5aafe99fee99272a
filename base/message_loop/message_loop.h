#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "base/closure.h"
#include "base/message_loop/loop_task_runner.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/message_pump_io.h"
#include "base/message_loop/task_annotator.h"
#include "base/observer_list.h"
#include "base/posted_task.h"
#include "base/ref_counted.h"
#include "base/time/tick_time.h"

namespace base {

class CurrentTaskRunnerHandle;
class LoopRunner;
class PostedTaskQueue;

// A thread's task loop. Any thread posts through `task_runner()`; the tasks
// run on the loop's thread, when a `LoopRunner` runs the loop, in posting
// order (delayed ones at their time, in posting order on equal times). Lives
// on its thread; tasks still queued when it is destroyed are released unrun.
class MessageLoop : public MessagePump::Delegate {
 public:
  enum class Type : uint32_t {
    kDefault = 0,  // Tasks only.
    kUI = 1,       // Tasks and the thread's Windows messages.
    kCustom = 2,   // The pump comes from a factory.
    kIO = 3,       // Tasks and overlapped I/O completions.
  };

  using PumpFactory = Callback<std::unique_ptr<MessagePump>()>;

  // Told, on the loop's thread, that the loop is being destroyed; the loop's
  // tasks are gone by then but its runner still accepts (and drops) posts.
  class DestructionObserver {
   public:
    virtual void OnLoopDestroying() = 0;

   protected:
    virtual ~DestructionObserver() = default;
  };

  // Makes a loop and binds it to the calling thread, which must have none.
  explicit MessageLoop(Type type = Type::kDefault);
  // Makes a loop that a later `BindToCurrentThread` binds to its thread;
  // posts made meanwhile wait. `pump_factory` is for `Type::kCustom`.
  MessageLoop(Type type, PumpFactory pump_factory);
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  ~MessageLoop() override;

  // The calling thread's loop, or null.
  static MessageLoop* current();

  void BindToCurrentThread();

  const RefPtr<LoopTaskRunner>& task_runner() const { return task_runner_; }
  Type type() const { return type_; }
  bool HasType(Type type) const { return type_ == type; }

  // A task that runs a nested loop and wants tasks to run inside it allows
  // them first; they are disallowed again when the task ends.
  void SetNestableTasksAllowed(bool allowed);
  bool NestableTasksAllowed() const { return nestable_tasks_allowed_; }

  // No duplicates. Removal may happen during the notification.
  void AddDestructionObserver(DestructionObserver* observer);
  void RemoveDestructionObserver(DestructionObserver* observer);

  // I/O loops only.
  bool RegisterIOHandler(HANDLE file, MessagePumpForIO::IOHandler* handler);
  bool WaitForIOCompletion(DWORD timeout_ms,
                           MessagePumpForIO::IOHandler* filter);

  // Hands a thread's opaque pump setting to the pump.
  void ApplyPumpSetting(int32_t setting);

  // The sequence number that the next post gets (to test its wrap-around).
  void SetNextSequenceNumberForTesting(int32_t sequence_num);

 private:
  friend class LoopRunner;
  class StackCapturingDestructionObserver;
  struct DelayedTaskOrder {
    bool operator()(const PostedTask& a, const PostedTask& b) const;
  };

  // MessagePump::Delegate:
  bool RunReadyTasks() override;
  bool RunDueDelayedTask(TickTime* next_wake_up) override;
  bool OnIdle() override;

  std::unique_ptr<MessagePump> MakePump();
  bool WorkQueueEmpty() const {
    return work_queue_head_ == work_queue_.size();
  }
  PostedTask TakeFromWorkQueue();
  // Called with the work queue drained.
  void ReloadWorkQueue();
  // Runs `task` now or defers it; true when it ran.
  bool RunOrDefer(PostedTask& task);
  bool CanRunNonNestable() const;
  void AddToDelayedQueue(PostedTask task);
  PostedTask PopDelayedTask();
  void RunTask(PostedTask& task);
  bool DeletePendingTasks();
  void NotifyDestructionObservers();
  MessagePumpForIO* io_pump() const;

  std::unique_ptr<MessagePump> pump_;
  Type type_;
  // Taken from the front (`work_queue_head_`); the storage goes back to the
  // posters at the next reload.
  std::vector<PostedTask> work_queue_;
  size_t work_queue_head_ = 0;
  int32_t pending_high_resolution_tasks_ = 0;
  bool in_high_resolution_mode_ = false;
  // A heap under `DelayedTaskOrder`: the task to run first is at the front.
  std::vector<PostedTask> delayed_work_queue_;
  TickTime recent_time_;
  std::deque<PostedTask> deferred_non_nestable_queue_;
  ObserverList<StackCapturingDestructionObserver> destruction_observers_;
  // Owns the wrappers in `destruction_observers_`.
  std::vector<std::unique_ptr<StackCapturingDestructionObserver>>
      destruction_observer_wrappers_;
  bool notifying_destruction_observers_ = false;
  bool nestable_tasks_allowed_ = true;
  PumpFactory pump_factory_;
  PostedTask* current_pending_task_ = nullptr;
  TaskAnnotator task_annotator_;
  RefPtr<PostedTaskQueue> incoming_queue_;
  RefPtr<LoopTaskRunner> unbound_task_runner_;
  RefPtr<LoopTaskRunner> task_runner_;
  std::unique_ptr<CurrentTaskRunnerHandle> task_runner_handle_;
  uint32_t thread_id_ = 0;
  LoopRunner* current_runner_ = nullptr;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
