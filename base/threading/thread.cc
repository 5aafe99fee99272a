#include "base/threading/thread.h"

#include <objbase.h>

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/trace_event/activity_scope.h"

namespace base {

namespace {

win::ScopedHandle CreateManualResetEvent() {
  win::ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  CHECK(event.IsValid()) << "CreateEventW failed: " << GetLastError();
  return event;
}

}  // namespace

Thread::Thread(std::string name)
    : id_event_(CreateManualResetEvent()),
      name_(std::move(name)),
      start_event_(CreateManualResetEvent()) {}

Thread::~Thread() {
  Stop();
  // A non-joinable thread still runs on this object until it ends.
  AutoLock hold(thread_lock_);
  if (thread_handle_.IsValid())
    JoinOsThread(thread_handle_);
}

bool Thread::Start() {
  ThreadStartOptions options;
  if (com_mode_ == ComMode::kApartmentThreaded)
    options.loop_type = MessageLoop::Type::kUI;
  return StartWithOptions(options);
}

bool Thread::StartWithOptions(const ThreadStartOptions& options) {
  AutoLock hold(thread_lock_);
  if (!JoinEndedThread()) {
    LOG(ERROR) << "Thread \"" << name_ << "\" is already running";
    return false;
  }
  ResetEvent(id_event_.Get());
  thread_id_ = 0;
  const MessageLoop::Type type = options.pump_factory
                                     ? MessageLoop::Type::kCustom
                                     : options.loop_type;
  pump_setting_ = options.pump_setting;
  message_loop_ = std::make_unique<MessageLoop>(type, options.pump_factory);
  // Taken now: once the thread runs, the loop is the thread's.
  RefPtr<SequencedTaskRunner> task_runner(message_loop_->task_runner());
  ResetEvent(start_event_.Get());
  if (!CreateOsThread(options.stack_size, this, &thread_handle_,
                      options.priority)) {
    message_loop_.reset();
    return false;
  }
  task_runner_ = std::move(task_runner);
  joinable_ = options.joinable;
  stopping_ = false;
  return true;
}

void Thread::StopSoon() {
  if (stopping_ || !task_runner_)
    return;
  stopping_ = true;
  task_runner_->PostTask(FROM_HERE, Bind(&Thread::QuitOnceIdle, this));
}

void Thread::Stop() {
  AutoLock hold(thread_lock_);
  StopSoon();
  if (!joinable_ || !thread_handle_.IsValid())
    return;
  JoinOsThread(thread_handle_);
  stopping_ = false;
  task_runner_.reset();
}

RefPtr<SequencedTaskRunner> Thread::GetTaskRunner() const {
  return task_runner_;
}

uint32_t Thread::GetThreadId() const {
  if (task_runner_) {
    EventWaitActivityScope activity(__builtin_return_address(0),
                                    id_event_.Get());
    WaitForSingleObject(id_event_.Get(), INFINITE);
  }
  return thread_id_;
}

bool Thread::IsRunning() const {
  AutoLock hold(running_lock_);
  return running_;
}

void Thread::Run(LoopRunner& runner) {
  runner.Run();
}

void Thread::ThreadMain() {
  thread_id_ = GetCurrentThreadId();
  SetEvent(id_event_.Get());
  SetCurrentThreadName(name_);
  PreBind();
  message_loop_->BindToCurrentThread();
  message_loop_->ApplyPumpSetting(pump_setting_);
  HRESULT com_result = E_FAIL;
  if (com_mode_ != ComMode::kNone) {
    com_result = CoInitializeEx(nullptr,
                                com_mode_ == ComMode::kApartmentThreaded
                                    ? COINIT_APARTMENTTHREADED
                                    : COINIT_MULTITHREADED);
  }
  BeforeRun();
  RunLoop();
  if (com_mode_ != ComMode::kNone && SUCCEEDED(com_result))
    CoUninitialize();
  // Tasks still queued are released here, on their own thread.
  message_loop_.reset();
}

void Thread::RunLoop() {
  LoopRunner runner;
  {
    AutoLock hold(running_lock_);
    running_ = true;
  }
  SetEvent(start_event_.Get());
  run_loop_ = &runner;
  Run(runner);
  {
    AutoLock hold(running_lock_);
    running_ = false;
  }
  AfterRun();
  run_loop_ = nullptr;
}

bool Thread::JoinEndedThread() {
  if (!thread_handle_.IsValid())
    return true;
  // Only a non-joinable thread leaves its handle behind; wait for it when
  // it was asked to quit or has ended anyway.
  const bool ended =
      WaitForSingleObject(thread_handle_.Get(), 0) == WAIT_OBJECT_0;
  if (!stopping_ && !ended)
    return false;
  JoinOsThread(thread_handle_);
  stopping_ = false;
  task_runner_.reset();
  return true;
}

// static
void Thread::QuitOnceIdle(Thread* thread) {
  if (thread->run_loop_)
    thread->run_loop_->QuitOnceIdle();
}

}  // namespace base
