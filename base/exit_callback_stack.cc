#include "base/exit_callback_stack.h"

#include <atomic>
#include <utility>

#include "base/bind.h"

namespace base {

namespace {

// The innermost stack; null while none exists.
std::atomic<ExitCallbackStack*> g_current_stack{nullptr};

}  // namespace

ExitCallbackStack::ExitCallbackStack()
    : previous_(g_current_stack.exchange(this)) {}

ExitCallbackStack::~ExitCallbackStack() {
  ProcessCallbacks();
  g_current_stack.store(previous_);
  // What was registered while the callbacks ran goes with `callbacks_`,
  // released unrun.
}

// static
void ExitCallbackStack::RegisterCallback(Function function, void* parameter) {
  Closure callback = BindFunction(function, parameter);
  ExitCallbackStack* stack = g_current_stack.load();
  if (!stack)
    return;
  AutoLock hold(stack->lock_);
  stack->callbacks_.push_back(std::move(callback));
}

// static
void ExitCallbackStack::ProcessCallbacksNow() {
  if (ExitCallbackStack* stack = g_current_stack.load())
    stack->ProcessCallbacks();
}

void ExitCallbackStack::ProcessCallbacks() {
  std::deque<Closure> callbacks;
  {
    AutoLock hold(lock_);
    callbacks.swap(callbacks_);
  }
  // Run without the lock, so that a callback may register callbacks (they
  // land in the emptied list). The running callback keeps its own reference
  // while it runs.
  while (!callbacks.empty()) {
    Closure callback = callbacks.back();
    callback.Run();
    callbacks.pop_back();
  }
}

}  // namespace base
