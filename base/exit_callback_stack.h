#ifndef BASE_EXIT_CALLBACK_STACK_H_
#define BASE_EXIT_CALLBACK_STACK_H_

#include <deque>

#include "base/closure.h"
#include "base/threading/lock.h"

namespace base {

// The process's last-in-first-out list of callbacks run when the entry
// returns; process-wide objects register their deleters here. Stacks nest:
// a new one shadows the current one until it is destroyed. The entry makes
// one on its stack for its whole run.
class ExitCallbackStack {
 public:
  using Function = void (*)(void*);

  ExitCallbackStack();
  ExitCallbackStack(const ExitCallbackStack&) = delete;
  ExitCallbackStack& operator=(const ExitCallbackStack&) = delete;
  // Runs the callbacks and makes the previous stack current again.
  // Callbacks registered while they run are released unrun.
  ~ExitCallbackStack();

  // Registers `function(parameter)` on the current stack; from any thread.
  // With no stack in existence nothing is registered and nothing runs.
  static void RegisterCallback(Function function, void* parameter);
  // Runs the current stack's callbacks now, last registered first.
  static void ProcessCallbacksNow();

 private:
  void ProcessCallbacks();

  Lock lock_;
  std::deque<Closure> callbacks_;
  ExitCallbackStack* previous_;
};

}  // namespace base

#endif  // BASE_EXIT_CALLBACK_STACK_H_
