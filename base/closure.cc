#include "base/closure.h"

namespace base {

bool ClosureState::ReturnFalse(const ClosureState*) {
  return false;
}

ClosureState::ClosureState(InvokeFunction invoke, DestroyFunction destroy)
    : ClosureState(invoke, destroy, &ReturnFalse) {}

ClosureState::ClosureState(InvokeFunction invoke, DestroyFunction destroy,
                           CancellationQuery is_cancelled)
    : invoke_(invoke), destroy_(destroy), is_cancelled_(is_cancelled) {}

CallbackBase::CallbackBase(ClosureState* state) : state_(state) {
  AddReference(state_);
}

CallbackBase::CallbackBase(const CallbackBase& other)
    : CallbackBase(other.state_) {}

CallbackBase& CallbackBase::operator=(const CallbackBase& other) {
  // The new reference is taken before the old one goes: self-assignment
  // must not destroy the shared state.
  AddReference(other.state_);
  DropReference(std::exchange(state_, other.state_));
  return *this;
}

CallbackBase& CallbackBase::operator=(CallbackBase&& other) noexcept {
  DropReference(std::exchange(state_, std::exchange(other.state_, nullptr)));
  return *this;
}

CallbackBase::~CallbackBase() {
  DropReference(state_);
}

bool CallbackBase::IsCancelled() const {
  return state_->is_cancelled_(state_);
}

void CallbackBase::Reset() {
  DropReference(std::exchange(state_, nullptr));
}

// static
void CallbackBase::AddReference(ClosureState* state) {
  if (state)
    AtomicRefCountIncrement(state->ref_count_);
}

// static
void CallbackBase::DropReference(ClosureState* state) {
  if (state && AtomicRefCountDecrement(state->ref_count_))
    state->destroy_(state);
}

}  // namespace base
