#ifndef BASE_BIND_H_
#define BASE_BIND_H_

#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include "base/closure.h"
#include "base/weak_reference.h"

namespace base {

// Binds `functor` (a lambda, function object, function or method pointer)
// with `bound` values, which are stored by value in the closure's state and
// passed first, as lvalues, on every run; the run's own arguments follow.
// Move-only values are fine: the state is shared, never copied. Bound values
// that are reference-counted owners (`RefPtr`, `Closure`, `WeakReference`)
// hold their reference until the state is destroyed.
//   Closure task = Bind([](int a, std::string& b) { ... }, 1, text);
//   Callback<void(bool)> done = Bind<void(bool)>(&OnWritten, path);
template <class Signature = void(), class Functor, class... Bound>
Callback<Signature> Bind(Functor&& functor, Bound&&... bound);

// Binds `method` of `receiver`, run only while `receiver_ref` (handed out by
// the receiver's `WeakReferenceSource`) is valid and `receiver` is not null;
// otherwise a run does nothing and the closure reports itself cancelled.
template <class Signature = void(), class Method, class T, class... Bound>
Callback<Signature> BindWeak(Method method, WeakReference receiver_ref,
                             T* receiver, Bound&&... bound);

// A plain function of one pointer with the pointer to pass. The state owns
// nothing but itself: the pointee's lifetime is the caller's business.
Closure BindFunction(void (*function)(void*), void* argument);

namespace internal {

template <class Signature, class Functor, class... Bound>
class BindState;

template <class R, class... Args, class Functor, class... Bound>
class BindState<R(Args...), Functor, Bound...> final : public ClosureState {
 public:
  template <class F, class... B>
  explicit BindState(F&& functor, B&&... bound)
      : ClosureState(reinterpret_cast<InvokeFunction>(&Invoke), &Destroy),
        functor_(std::forward<F>(functor)),
        bound_(std::forward<B>(bound)...) {}

 private:
  static R Invoke(ClosureState* state, Args... args) {
    auto* self = static_cast<BindState*>(state);
    return std::apply(
        [&](Bound&... bound) -> R {
          if constexpr (std::is_void_v<R>)
            std::invoke(self->functor_, bound..., std::forward<Args>(args)...);
          else
            return std::invoke(self->functor_, bound...,
                               std::forward<Args>(args)...);
        },
        self->bound_);
  }

  static void Destroy(ClosureState* state) {
    // Takes back the ownership that Bind handed to the closure.
    std::unique_ptr<BindState> owned(static_cast<BindState*>(state));
  }

  Functor functor_;
  std::tuple<Bound...> bound_;
};

template <class Signature, class Method, class T, class... Bound>
class WeakMethodState;

template <class... Args, class Method, class T, class... Bound>
class WeakMethodState<void(Args...), Method, T, Bound...> final
    : public ClosureState {
 public:
  template <class... B>
  WeakMethodState(Method method, WeakReference receiver_ref, T* receiver,
                  B&&... bound)
      : ClosureState(reinterpret_cast<InvokeFunction>(&Invoke), &Destroy,
                     &IsCancelled),
        method_(method),
        receiver_ref_(std::move(receiver_ref)),
        receiver_(receiver),
        bound_(std::forward<B>(bound)...) {}

 private:
  static void Invoke(ClosureState* state, Args... args) {
    auto* self = static_cast<WeakMethodState*>(state);
    if (IsCancelled(state))
      return;
    std::apply(
        [&](Bound&... bound) {
          std::invoke(self->method_, self->receiver_, bound...,
                      std::forward<Args>(args)...);
        },
        self->bound_);
  }

  static bool IsCancelled(const ClosureState* state) {
    auto* self = static_cast<const WeakMethodState*>(state);
    return !self->receiver_ref_.IsValid() || self->receiver_ == nullptr;
  }

  static void Destroy(ClosureState* state) {
    std::unique_ptr<WeakMethodState> owned(
        static_cast<WeakMethodState*>(state));
  }

  Method method_;
  WeakReference receiver_ref_;
  T* receiver_;
  std::tuple<Bound...> bound_;
};

}  // namespace internal

template <class Signature, class Functor, class... Bound>
Callback<Signature> Bind(Functor&& functor, Bound&&... bound) {
  using State = internal::BindState<Signature, std::decay_t<Functor>,
                                    std::decay_t<Bound>...>;
  return Callback<Signature>(
      std::make_unique<State>(std::forward<Functor>(functor),
                              std::forward<Bound>(bound)...)
          .release());
}

template <class Signature, class Method, class T, class... Bound>
Callback<Signature> BindWeak(Method method, WeakReference receiver_ref,
                             T* receiver, Bound&&... bound) {
  static_assert(std::is_member_function_pointer_v<Method>,
                "BindWeak binds a method");
  using State = internal::WeakMethodState<Signature, Method, T,
                                          std::decay_t<Bound>...>;
  return Callback<Signature>(
      std::make_unique<State>(method, std::move(receiver_ref), receiver,
                              std::forward<Bound>(bound)...)
          .release());
}

}  // namespace base

#endif  // BASE_BIND_H_
