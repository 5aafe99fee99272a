#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_UI_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_UI_H_

#include <windows.h>

#include "base/message_loop/message_pump_win.h"
#include "base/win/message_window.h"

namespace base {

// The pump of a thread with windows: serves the thread's Windows message
// queue and the tasks in turn. Wake-ups are `kWakeUpMessage`s to a
// message-only window; a system timer on that window keeps delayed tasks
// running while a modal system loop pumps the messages.
class MessagePumpForUI : public MessagePumpWin {
 public:
  static constexpr UINT kWakeUpMessage = WM_USER + 1;

  MessagePumpForUI();
  ~MessagePumpForUI() override;

  void WakeUp() override;
  void SetWakeUpTime(TickTime wake_up_time) override;

  // Stands in for MsgWaitForMultipleObjectsEx; null restores it.
  using WaitFunction = DWORD(WINAPI*)(DWORD count, const HANDLE* handles,
                                      DWORD timeout_ms, DWORD wake_mask,
                                      DWORD flags);
  static void SetWaitFunctionForTesting(WaitFunction function);

  HWND window_for_testing() const { return window_.hwnd(); }

 private:
  void PumpLoop() override;
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& message);
  bool ProcessPumpReplacementMessage();
  bool RecoverLostWakeUp();
  void WaitForWork();
  void HandleFailedWait(DWORD timeout_ms);
  bool OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam,
                       LRESULT* result);
  void HandleWorkMessage();
  void HandleTimerMessage();
  void RescheduleTimer();
  void KillWakeUpTimer();
  UINT_PTR timer_id() const { return reinterpret_cast<UINT_PTR>(this); }

  // QS_ALLINPUT with raw, touch and pointer input.
  static constexpr DWORD kWakeMask = 0x1CFF;

  // Narrowed for good when the system rejects the full mask.
  DWORD wake_mask_ = kWakeMask;
  bool wait_failure_logged_ = false;
  bool timer_set_ = false;
  win::MessageWindow window_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_UI_H_
