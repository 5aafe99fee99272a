#include "base/message_loop/message_pump_default.h"

#include <windows.h>

#include "base/logging.h"
#include "base/threading/sync_event.h"
#include "base/trace_event/activity_scope.h"

namespace base {

MessagePumpDefault::MessagePumpDefault()
    : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  // A loop that cannot wait cannot run.
  CHECK(event_.IsValid()) << "CreateEventW failed: " << GetLastError();
}

MessagePumpDefault::~MessagePumpDefault() = default;

void MessagePumpDefault::Run(Delegate* delegate) {
  for (;;) {
    bool did_work = delegate->RunReadyTasks();
    if (!keep_running_)
      break;
    did_work |= delegate->RunDueDelayedTask(&wake_up_time_);
    if (!keep_running_)
      break;
    if (did_work)
      continue;
    did_work = delegate->OnIdle();
    if (!keep_running_)
      break;
    if (did_work)
      continue;
    WaitForWork();
  }
  // Ready for the next run (an outer one may go on).
  keep_running_ = true;
}

void MessagePumpDefault::Quit() {
  keep_running_ = false;
}

void MessagePumpDefault::WakeUp() {
  SetEvent(event_.Get());
}

void MessagePumpDefault::SetWakeUpTime(TickTime wake_up_time) {
  wake_up_time_ = wake_up_time;
}

void MessagePumpDefault::WaitForWork() {
  if (wake_up_time_.is_null()) {
    EventWaitActivityScope activity(__builtin_return_address(0), event_.Get());
    WaitForSingleObject(event_.Get(), INFINITE);
    return;
  }
  TickTime now = TickTime::Now();
  if (wake_up_time_ <= now)
    return;
  EventWaitActivityScope activity(__builtin_return_address(0), event_.Get());
  WaitForEventUntil(event_.Get(), now, wake_up_time_);
}

}  // namespace base
