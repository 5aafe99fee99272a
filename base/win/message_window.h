#ifndef BASE_WIN_MESSAGE_WINDOW_H_
#define BASE_WIN_MESSAGE_WINDOW_H_

#include <windows.h>

#include "base/closure.h"

namespace base::win {

// A message-only window whose messages go to a callback. Lives on the thread
// that creates it: that thread's message queue receives its messages, and
// only that thread may destroy it.
class MessageWindow {
 public:
  // Gets message, wParam and lParam; returns true when it handled the
  // message and stored the answer in `*result`, false for the default
  // processing.
  using MessageCallback =
      Callback<bool(UINT message, WPARAM wparam, LPARAM lparam,
                    LRESULT* result)>;

  MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  // Destroys the window; the callback sees WM_DESTROY.
  ~MessageWindow();

  // False (logged) when the window class or the window cannot be made.
  bool Create(MessageCallback callback);

  HWND hwnd() const { return window_; }

 private:
  friend struct MessageWindowClass;

  static LRESULT CALLBACK GuardedWindowProc(HWND window, UINT message,
                                            WPARAM wparam, LPARAM lparam);
  static LRESULT WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam);

  MessageCallback callback_;
  HWND window_ = nullptr;
};

// The process-wide window class of message windows, registered on first use
// and unregistered at exit.
struct MessageWindowClass {
  MessageWindowClass();
  MessageWindowClass(const MessageWindowClass&) = delete;
  MessageWindowClass& operator=(const MessageWindowClass&) = delete;
  ~MessageWindowClass();

  // 0 when registration failed.
  ATOM atom = 0;
  HINSTANCE instance = nullptr;
};
const MessageWindowClass& GetMessageWindowClass();

}  // namespace base::win

#endif  // BASE_WIN_MESSAGE_WINDOW_H_
