#ifndef BASE_THREADING_THREAD_H_
#define BASE_THREADING_THREAD_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/message_loop/message_loop.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/lock.h"
#include "base/threading/os_thread.h"
#include "base/win/scoped_handle.h"

namespace base {

class LoopRunner;

// How `Thread::StartWithOptions` makes the thread and its loop.
struct ThreadStartOptions {
  MessageLoop::Type loop_type = MessageLoop::Type::kDefault;
  // Handed to the pump on the new thread; opaque here.
  int32_t pump_setting = 0;
  // When present the loop is a custom one whatever `loop_type` says.
  MessageLoop::PumpFactory pump_factory;
  // 0 takes the process default.
  uint64_t stack_size = 0;
  ThreadPriority priority = ThreadPriority::kNormal;
  // `Stop` waits for a joinable thread; a non-joinable one is only asked to
  // quit (the destructor still waits, as the thread uses this object).
  bool joinable = true;
};

// A named thread that runs its own `MessageLoop` until told to stop. Other
// threads post to it through `GetTaskRunner`. Start and stop it from one
// owning thread; destroying it stops it and waits for the thread to end. A
// derived class stops it in its own destructor, as the thread calls its
// overrides until it ends.
class Thread : public ThreadDelegate {
 public:
  enum class ComMode : int32_t {
    kNone = 0,
    kApartmentThreaded = 1,  // The loop then also pumps Windows messages.
    kMultithreaded = 2,
  };

  explicit Thread(std::string name);
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() override;

  // Set before `Start`.
  void set_com_mode(ComMode mode) { com_mode_ = mode; }

  // Default options, with a user-interface loop for apartment-threaded COM.
  bool Start();
  // True when the OS thread was created; does not wait for it to run. False
  // (logged) when the system refuses the thread or a thread is still
  // running.
  bool StartWithOptions(const ThreadStartOptions& options);
  // Asks the loop to quit once it has run the tasks already queued; returns
  // at once.
  void StopSoon();
  // `StopSoon`, then waits for a joinable thread to end. Tasks posted after
  // the loop has gone are released unrun.
  void Stop();

  // The loop's runner with a reference added; null before the first start
  // and after a joinable thread was stopped.
  RefPtr<SequencedTaskRunner> GetTaskRunner() const;
  // The new thread's id, waiting until the thread has stored it; 0 when the
  // thread was not started.
  uint32_t GetThreadId() const;
  // Whether the thread's loop is running.
  bool IsRunning() const;
  const std::string& name() const { return name_; }

 protected:
  // On the new thread, around the loop's run. `PreBind` runs before the loop
  // is bound to the thread, `BeforeRun` after COM is initialised.
  virtual void PreBind() {}
  virtual void BeforeRun() {}
  // Runs `runner` until it quits.
  virtual void Run(LoopRunner& runner);
  virtual void AfterRun() {}

 private:
  void ThreadMain() override;
  void RunLoop();
  // Waits for a thread that was asked to quit; false when one still runs.
  bool JoinEndedThread();
  static void QuitOnceIdle(Thread* thread);

  ComMode com_mode_ = ComMode::kNone;
  bool joinable_ = true;
  bool stopping_ = false;
  bool running_ = false;
  mutable Lock running_lock_;
  // Kept for non-joinable threads too, so that the destructor can wait.
  win::ScopedHandle thread_handle_;
  // Serialises start and stop.
  Lock thread_lock_;
  uint32_t thread_id_ = 0;
  // Manual reset: signalled once `thread_id_` is stored.
  win::ScopedHandle id_event_;
  // Made by the starting thread, deleted by the thread as it ends.
  std::unique_ptr<MessageLoop> message_loop_;
  // Held so that stopping never reads the loop, which the thread deletes;
  // posts to it fail once the loop is gone.
  RefPtr<SequencedTaskRunner> task_runner_;
  // The runner that `Run` runs; only touched on the thread.
  LoopRunner* run_loop_ = nullptr;
  int32_t pump_setting_ = 0;
  std::string name_;
  // Manual reset: signalled once the loop is about to run.
  win::ScopedHandle start_event_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_H_
