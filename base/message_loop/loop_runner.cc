#include "base/message_loop/loop_runner.h"

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_win.h"
#include "base/metrics/task_stopwatch.h"

namespace base {

LoopRunner::LoopRunner() : LoopRunner(nullptr) {}

LoopRunner::LoopRunner(MessagePumpDispatcher* dispatcher)
    : loop_(MessageLoop::current()), dispatcher_(dispatcher) {
  CHECK(loop_) << "A loop runner needs the thread's message loop";
}

LoopRunner::~LoopRunner() = default;

void LoopRunner::Run() {
  run_called_ = true;
  if (quit_called_)
    return;
  outer_runner_ = loop_->current_runner_;
  depth_ = outer_runner_ ? outer_runner_->depth_ + 1 : 1;
  loop_->current_runner_ = this;

  running_ = true;
  TaskStopwatch stopwatch;
  stopwatch.Start();
  MessagePump* pump = loop_->pump_.get();
  if (dispatcher_ && loop_->HasType(MessageLoop::Type::kUI))
    static_cast<MessagePumpWin*>(pump)->RunWithDispatcher(loop_, dispatcher_);
  else
    pump->Run(loop_);
  stopwatch.Stop();
  running_ = false;

  loop_->current_runner_ = outer_runner_;
  // An outer quit that came while this run went on ends the outer run now.
  if (outer_runner_ && outer_runner_->quit_called_)
    pump->Quit();
}

void LoopRunner::Quit() {
  quit_called_ = true;
  if (running_ && loop_->current_runner_ == this)
    loop_->pump_->Quit();
}

void LoopRunner::QuitOnceIdle() {
  quit_when_idle_ = true;
}

Closure LoopRunner::QuitClosure() {
  return BindWeak(&LoopRunner::Quit, weak_source_.GetRef(), this);
}

}  // namespace base
