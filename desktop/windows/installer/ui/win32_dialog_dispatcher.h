#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_

#include <windows.h>

#include <cstdint>

#include "base/message_loop/message_pump_dispatcher.h"

namespace installer {

// Gives the thread's modeless dialog keyboard navigation (tab, arrows,
// default button, mnemonics) while the task loop pumps the messages: a loop
// runner made with it offers every message to the active dialog first. The
// dialogs say which one is active from their WM_ACTIVATE. Lives on the
// thread that owns the dialogs.
class Win32DialogDispatcher : public base::MessagePumpDispatcher {
 public:
  // The process-wide dispatcher, made on first use, deleted by the exit
  // callbacks.
  static Win32DialogDispatcher* GetInstance();

  Win32DialogDispatcher() = default;
  Win32DialogDispatcher(const Win32DialogDispatcher&) = delete;
  Win32DialogDispatcher& operator=(const Win32DialogDispatcher&) = delete;
  ~Win32DialogDispatcher() override = default;

  // 0 when the current dialog took the message, else default processing.
  uint32_t Dispatch(const MSG& message) override;

  void SetCurrentDialog(HWND dialog);
  // Only `dialog` itself stops being current: another dialog activated in
  // between stays.
  void ClearCurrentDialog(HWND dialog);

  HWND current_dialog() const { return current_dialog_; }

 private:
  HWND current_dialog_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
