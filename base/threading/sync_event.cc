#include "base/threading/sync_event.h"

#include <algorithm>
#include <cstdint>

#include "base/logging.h"
#include "base/trace_event/activity_scope.h"

namespace base {

namespace {

constexpr TimeDelta kMinimumWait = TimeDelta::FromMilliseconds(1);

bool PollEvent(HANDLE handle) {
  return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

DWORD ToWaitTimeout(TimeDelta remaining) {
  if (remaining.is_max())
    return INFINITE;
  // Rounded up: a truncated timeout would end the wait early.
  int64_t milliseconds = remaining.InMillisecondsRoundedUp();
  return milliseconds >= INFINITE ? INFINITE
                                  : static_cast<DWORD>(milliseconds);
}

}  // namespace

SyncEvent::SyncEvent(ResetMode reset_mode, InitialState initial_state)
    : handle_(CreateEventW(nullptr, reset_mode == ResetMode::kManual,
                           initial_state == InitialState::kSignaled,
                           nullptr)) {
  CHECK(handle_.IsValid()) << "CreateEventW failed: " << GetLastError();
}

void SyncEvent::Signal() {
  SetEvent(handle_.Get());
}

void SyncEvent::Wait() {
  EventWaitActivityScope activity(__builtin_return_address(0), handle_.Get());
  WaitForSingleObject(handle_.Get(), INFINITE);
}

bool SyncEvent::WaitFor(TimeDelta delta) {
  if (delta.is_zero())
    return PollEvent(handle_.Get());
  EventWaitActivityScope activity(__builtin_return_address(0), handle_.Get());
  TickTime now = TickTime::Now();
  return WaitForEventUntil(handle_.Get(), now, now + delta);
}

bool SyncEvent::WaitUntil(TickTime end) {
  if (end.is_null())
    return PollEvent(handle_.Get());
  EventWaitActivityScope activity(__builtin_return_address(0), handle_.Get());
  TickTime now = TickTime::Now();
  if (end > now)
    return WaitForEventUntil(handle_.Get(), now, end);
  return PollEvent(handle_.Get());
}

bool WaitForEventUntil(HANDLE handle, TickTime now, TickTime end) {
  TimeDelta remaining = end - now;
  do {
    remaining = std::max(remaining, kMinimumWait);
    switch (WaitForSingleObject(handle, ToWaitTimeout(remaining))) {
      case WAIT_OBJECT_0:
        return true;
      case WAIT_TIMEOUT:
        remaining = end - TickTime::Now();
        break;
      default:
        // Waiting again would fail again, at once and forever.
        PLOG(ERROR) << "WaitForSingleObject failed";
        return false;
    }
  } while (remaining > TimeDelta());
  return false;
}

}  // namespace base
