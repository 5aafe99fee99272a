#ifndef BASE_MESSAGE_LOOP_LOOP_RUNNER_H_
#define BASE_MESSAGE_LOOP_LOOP_RUNNER_H_

#include <cstdint>

#include "base/closure.h"
#include "base/weak_reference.h"

namespace base {

class MessageLoop;
class MessagePumpDispatcher;

// One run of the calling thread's current message loop, until told to quit.
// A stack object of the loop's thread; runs nest (a runner made and run
// inside a task runs at a greater depth).
class LoopRunner {
 public:
  LoopRunner();
  // For a user-interface loop: every Windows message goes to `dispatcher`.
  explicit LoopRunner(MessagePumpDispatcher* dispatcher);
  LoopRunner(const LoopRunner&) = delete;
  LoopRunner& operator=(const LoopRunner&) = delete;
  // Invalidates every closure from `QuitClosure`.
  ~LoopRunner();

  // Returns at once when `Quit` was called before.
  void Run();
  // Ends this run. A quit of an outer runner takes effect once the inner
  // runs have returned.
  void Quit();
  // Ends this run the next time the loop has no work left.
  void QuitOnceIdle();
  // A closure that quits this runner while it exists; afterwards it does
  // nothing. Run it on the loop's thread.
  Closure QuitClosure();

  // For the loop.
  uint32_t depth() const { return depth_; }
  bool quit_when_idle() const { return quit_when_idle_; }

 private:
  MessageLoop* loop_;
  LoopRunner* outer_runner_ = nullptr;
  MessagePumpDispatcher* dispatcher_;
  uint32_t depth_ = 0;
  bool run_called_ = false;
  bool quit_called_ = false;
  bool running_ = false;
  bool quit_when_idle_ = false;
  WeakReferenceSource weak_source_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_LOOP_RUNNER_H_
