#include "base/bind.h"

namespace base {

namespace {

// Built wherever the base library calls a function with one pointer later
// (exit callbacks, deletions posted to a runner, the post-and-reply steps).
class BoundFunctionState final : public ClosureState {
 public:
  using Function = void (*)(void*);

  BoundFunctionState(Function function, void* argument)
      : ClosureState(reinterpret_cast<InvokeFunction>(&Invoke), &Destroy),
        function_(function),
        argument_(argument) {}

 private:
  static void Invoke(ClosureState* state) {
    auto* self = static_cast<BoundFunctionState*>(state);
    self->function_(self->argument_);
  }

  static void Destroy(ClosureState* state) {
    std::unique_ptr<BoundFunctionState> owned(
        static_cast<BoundFunctionState*>(state));
  }

  Function function_;
  void* argument_;
};

}  // namespace

Closure BindFunction(void (*function)(void*), void* argument) {
  return Closure(
      std::make_unique<BoundFunctionState>(function, argument).release());
}

}  // namespace base
