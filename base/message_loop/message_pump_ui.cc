#include "base/message_loop/message_pump_ui.h"

#include <windows.h>

#include <algorithm>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/time/tick_time.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// What systems without touch and pointer input accept.
constexpr DWORD kNarrowWakeMask = QS_ALLINPUT & 0x04FF;
// A wait that fails even with the narrow mask becomes a poll at this period
// instead of a spin.
constexpr DWORD kFailedWaitPollMs = 10;

enum ProblemSample : int32_t {
  kWakeUpMessagePostFailed = 0,
  kSetTimerFailed = 2,
  kQuitMessageReceived = 3,
};

constexpr char kProcessMessageEvent[] =
    "MessagePumpForUI::ProcessMessageHelper";

MessagePumpForUI::WaitFunction g_wait_function = &MsgWaitForMultipleObjectsEx;

bool IsSentMessagePending() {
  return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}

class ScopedMessageTrace {
 public:
  explicit ScopedMessageTrace(UINT message) {
    static const uint8_t* const category =
        TraceLog::GetCategoryEnabledFlag("base");
    if (!(*category & kCategoryGroupEnabledMask))
      return;
    category_ = category;
    const char* names[] = {"message"};
    const uint8_t types[] = {kTraceArgumentInt};
    const uint64_t values[] = {message};
    event_ = TraceLog::GetInstance()->AddEvent(
        kTracePhaseComplete, category_, kProcessMessageEvent, 0, 0,
        GetCurrentThreadId(), TickTime::Now().ToInternalValue(), 1, names,
        types, values, 0);
  }
  ScopedMessageTrace(const ScopedMessageTrace&) = delete;
  ScopedMessageTrace& operator=(const ScopedMessageTrace&) = delete;
  ~ScopedMessageTrace() {
    if (event_) {
      TraceLog::GetInstance()->CompleteEventDuration(
          category_, kProcessMessageEvent, event_);
    }
  }

 private:
  const uint8_t* category_ = nullptr;
  TraceEventHandle event_ = 0;
};

}  // namespace

MessagePumpForUI::MessagePumpForUI() {
  // Without its window the pump could never be woken.
  CHECK(window_.Create(Bind<bool(UINT, WPARAM, LPARAM, LRESULT*)>(
      [](MessagePumpForUI* pump, UINT message, WPARAM wparam, LPARAM lparam,
         LRESULT* result) {
        return pump->OnWindowMessage(message, wparam, lparam, result);
      },
      this)))
      << "The message pump's window cannot be created";
}

MessagePumpForUI::~MessagePumpForUI() {
  KillWakeUpTimer();
}

// static
void MessagePumpForUI::SetWaitFunctionForTesting(WaitFunction function) {
  g_wait_function = function ? function : &MsgWaitForMultipleObjectsEx;
}

void MessagePumpForUI::WakeUp() {
  // One wake-up message at a time, however many tasks arrive.
  if (have_work_.exchange(1) == 1)
    return;
  if (PostMessageW(window_.hwnd(), kWakeUpMessage, 0, 0))
    return;
  have_work_.store(0);
  RecordWakeUpFailure(kWakeUpMessagePostFailed);
}

void MessagePumpForUI::SetWakeUpTime(TickTime wake_up_time) {
  wake_up_time_ = wake_up_time;
  RescheduleTimer();
}

void MessagePumpForUI::PumpLoop() {
  RunState* state = state_;
  for (;;) {
    bool more_work = ProcessNextWindowsMessage();
    if (state->should_quit)
      break;
    more_work |= state->delegate->RunReadyTasks();
    if (state->should_quit)
      break;
    more_work |= state->delegate->RunDueDelayedTask(&wake_up_time_);
    // No delayed work is left: the timer must not fire.
    if (more_work && wake_up_time_.is_null())
      KillWakeUpTimer();
    if (state->should_quit)
      break;
    if (more_work)
      continue;
    more_work = state->delegate->OnIdle();
    if (state->should_quit)
      break;
    if (more_work || RecoverLostWakeUp())
      continue;
    WaitForWork();
  }
}

bool MessagePumpForUI::ProcessNextWindowsMessage() {
  bool sent_message_pending = IsSentMessagePending();
  MSG message;
  if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    return ProcessMessageHelper(message);
  return sent_message_pending;
}

bool MessagePumpForUI::ProcessMessageHelper(const MSG& message) {
  ScopedMessageTrace trace(message.message);
  if (message.message == WM_QUIT) {
    RecordMessageLoopProblem(kQuitMessageReceived);
    state_->should_quit = true;
    // Put back for the next outer message loop.
    PostQuitMessage(static_cast<int>(message.wParam));
    return false;
  }
  if (message.message == kWakeUpMessage && message.hwnd == window_.hwnd())
    return ProcessPumpReplacementMessage();

  uint32_t action = MessagePumpDispatcher::kDefaultProcessing;
  if (state_->dispatcher)
    action = state_->dispatcher->Dispatch(message);
  if (action & MessagePumpDispatcher::kQuitRun)
    state_->should_quit = true;
  if (action & MessagePumpDispatcher::kDefaultProcessing) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

bool MessagePumpForUI::ProcessPumpReplacementMessage() {
  // The wake-up message carries no work: take the next message in its place.
  MSG message;
  bool have_message = PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
  have_work_.store(0);
  if (!have_message)
    return false;
  // Another turn for the tasks even if this message enters a modal loop.
  WakeUp();
  return ProcessMessageHelper(message);
}

// A modal loop that ends drops the message it took last (a dialog's loop
// stops once its end is flagged, without dispatching it), and that may be
// the wake-up message. With the flag still set and no message queued, no
// post would wake the pump again: clear it, and look for the tasks whose
// wake-ups it swallowed.
bool MessagePumpForUI::RecoverLostWakeUp() {
  if (have_work_.load() == 0)
    return false;
  MSG message;
  if (PeekMessageW(&message, window_.hwnd(), kWakeUpMessage, kWakeUpMessage,
                   PM_NOREMOVE)) {
    return false;
  }
  have_work_.store(0);
  return true;
}

void MessagePumpForUI::WaitForWork() {
  DWORD flags = MWMO_INPUTAVAILABLE;
  for (int32_t delay = GetCurrentDelay(); delay != 0;
       delay = GetCurrentDelay()) {
    DWORD timeout = delay < 0 ? INFINITE : static_cast<DWORD>(delay);
    DWORD result = g_wait_function(0, nullptr, timeout, wake_mask_, flags);
    if (result == WAIT_OBJECT_0) {
      MSG message;
      if (IsSentMessagePending() ||
          PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        return;
      }
      // Input was signalled but none is for this thread: wait for new input.
      flags = 0;
      continue;
    }
    if (result == WAIT_FAILED) {
      HandleFailedWait(timeout);
      return;
    }
  }
}

void MessagePumpForUI::HandleFailedWait(DWORD timeout) {
  // Waiting again with the same mask would fail at once, forever.
  if (wake_mask_ != kNarrowWakeMask) {
    PLOG(ERROR) << "MsgWaitForMultipleObjectsEx failed; narrowing the mask";
    wake_mask_ = kNarrowWakeMask;
    return;
  }
  if (!wait_failure_logged_) {
    PLOG(ERROR) << "MsgWaitForMultipleObjectsEx failed; polling instead";
    wait_failure_logged_ = true;
  }
  Sleep(std::min(timeout, kFailedWaitPollMs));
}

bool MessagePumpForUI::OnWindowMessage(UINT message, WPARAM wparam,
                                       LPARAM lparam, LRESULT* result) {
  if (message == WM_TIMER && wparam == timer_id())
    HandleTimerMessage();
  else if (message == kWakeUpMessage)
    HandleWorkMessage();
  // Answered as unhandled: the default processing follows.
  return false;
}

// Reached only when a message loop other than the pump's own (a modal
// system loop) dispatches the wake-up message.
void MessagePumpForUI::HandleWorkMessage() {
  if (!state_) {
    // No run is active: no task may run here.
    have_work_.store(0);
    return;
  }
  ProcessPumpReplacementMessage();
  if (state_->delegate->RunReadyTasks())
    WakeUp();
  state_->delegate->RunDueDelayedTask(&wake_up_time_);
  RescheduleTimer();
}

// Keeps delayed tasks going while a modal system loop pumps the messages.
void MessagePumpForUI::HandleTimerMessage() {
  KillWakeUpTimer();
  if (!state_)
    return;
  state_->delegate->RunDueDelayedTask(&wake_up_time_);
  RescheduleTimer();
}

void MessagePumpForUI::RescheduleTimer() {
  if (wake_up_time_.is_null())
    return;
  int32_t delay = GetCurrentDelay();
  if (delay < 0)
    return;
  if (delay == 0) {
    WakeUp();
    return;
  }
  UINT timeout = std::max<UINT>(static_cast<UINT>(delay), USER_TIMER_MINIMUM);
  if (SetTimer(window_.hwnd(), timer_id(), timeout, nullptr))
    timer_set_ = true;
  else
    RecordMessageLoopProblem(kSetTimerFailed);
}

void MessagePumpForUI::KillWakeUpTimer() {
  // Skipped when no timer is set: the loop asks after every task, and each
  // call is a round trip to the window system.
  if (!timer_set_)
    return;
  KillTimer(window_.hwnd(), timer_id());
  timer_set_ = false;
}

}  // namespace base
