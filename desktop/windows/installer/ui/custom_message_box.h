#ifndef DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_

#include <windows.h>

#include <string>

#include "base/closure.h"
#include "desktop/windows/installer/ui/scoped_gdi_object.h"

namespace installer {

// A modeless message box made from the host's dialog 102: a title, a text
// that may hold links, an optional accept button and a cancel button. It
// never blocks: each answer of the user goes to the callback, and the box
// stays open until its owner closes it. The thread's message loop must hand
// messages to the `Win32DialogDispatcher`.
class CustomMessageBox {
 public:
  // What the user did.
  enum Answer : int {
    kClosed = 0,   // The frame's close button.
    kAccepted = 1,
    kCancelled = 2,
    kLinkClicked = 3,
  };
  using ResultCallback = base::Callback<void(int)>;

  CustomMessageBox();
  CustomMessageBox(const CustomMessageBox&) = delete;
  CustomMessageBox& operator=(const CustomMessageBox&) = delete;
  ~CustomMessageBox();

  // `owner` (may be null) is disabled while the box is shown. An
  // `accept_string_id` of 0 leaves the box without an accept button. False,
  // with the error logged, when the dialog cannot be made.
  bool Show(HWND owner,
            int title_string_id,
            const std::wstring& text,
            int accept_string_id,
            int cancel_string_id,
            ResultCallback callback);
  void Close();

  HWND dialog() const { return dialog_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void SetUpControls(int title_string_id,
                     const std::wstring& text,
                     int accept_string_id,
                     int cancel_string_id);
  void Answer(int answer);

  HWND dialog_ = nullptr;
  HWND owner_ = nullptr;
  ResultCallback callback_;
  ScopedIcon big_icon_;
  ScopedIcon small_icon_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_
