#ifndef BASE_CLOSURE_H_
#define BASE_CLOSURE_H_

#include <cstddef>
#include <utility>

#include "base/ref_counted.h"

namespace base {

// The shared record behind a bound callback: a header of functions that the
// binding generates (see base/bind.h), followed by the functor and the bound
// values in the binding's own layout. Reference-counted; the destroy function
// runs exactly once, on the thread that drops the last reference.
class ClosureState {
 public:
  // Stands for the binding's invoke function, whose real type is
  // R (*)(ClosureState*, Args...) for a `Callback<R(Args...)>`.
  using InvokeFunction = void (*)();
  // Destroys the bound values and frees the record.
  using DestroyFunction = void (*)(ClosureState*);
  // True when running the callback has become pointless.
  using CancellationQuery = bool (*)(const ClosureState*);

  // The default query: never cancelled.
  static bool ReturnFalse(const ClosureState*);

  ClosureState(InvokeFunction invoke, DestroyFunction destroy);
  ClosureState(InvokeFunction invoke, DestroyFunction destroy,
               CancellationQuery is_cancelled);
  ClosureState(const ClosureState&) = delete;
  ClosureState& operator=(const ClosureState&) = delete;

 protected:
  // Only the destroy function ends a record.
  ~ClosureState() = default;

 private:
  friend class CallbackBase;

  InvokeFunction invoke_;
  AtomicRefCount ref_count_{0};
  DestroyFunction destroy_;
  CancellationQuery is_cancelled_;
};

// What every callback type shares: one pointer to a `ClosureState`, or null.
class CallbackBase {
 public:
  bool is_null() const { return state_ == nullptr; }
  explicit operator bool() const { return state_ != nullptr; }
  // Asks the state's cancellation query; the callback must not be empty.
  bool IsCancelled() const;
  // Empties the callback, then drops its reference (which may destroy the
  // bound values, and with them whatever owns this callback).
  void Reset();

 protected:
  CallbackBase() = default;
  explicit CallbackBase(ClosureState* state);
  CallbackBase(const CallbackBase& other);
  CallbackBase(CallbackBase&& other) noexcept
      : state_(std::exchange(other.state_, nullptr)) {}
  CallbackBase& operator=(const CallbackBase& other);
  CallbackBase& operator=(CallbackBase&& other) noexcept;
  ~CallbackBase();

  ClosureState::InvokeFunction invoke_function() const {
    return state_->invoke_;
  }
  ClosureState* state() const { return state_; }

 private:
  static void AddReference(ClosureState* state);
  static void DropReference(ClosureState* state);

  ClosureState* state_ = nullptr;
};

template <class Signature>
class Callback;

// A bound, type-erased callable. Copies share one state; the callable may
// run any number of times, on any thread the binding allows.
template <class R, class... Args>
class Callback<R(Args...)> : public CallbackBase {
 public:
  using Invoke = R (*)(ClosureState*, Args...);

  Callback() = default;
  Callback(std::nullptr_t) {}
  // Takes a reference to `state`, whose invoke function must be an `Invoke`.
  explicit Callback(ClosureState* state) : CallbackBase(state) {}

  R Run(Args... args) const {
    Invoke invoke = reinterpret_cast<Invoke>(invoke_function());
    return invoke(state(), std::forward<Args>(args)...);
  }
};

// The unit of deferred work: a callback of no arguments.
using Closure = Callback<void()>;

}  // namespace base

#endif  // BASE_CLOSURE_H_
