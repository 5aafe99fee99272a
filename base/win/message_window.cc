#include "base/win/message_window.h"

#include <utility>

#include "base/debug/exception_hook.h"
#include "base/lazy_global.h"
#include "base/logging.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base::win {

namespace {

constexpr wchar_t kWindowClassName[] = L"Tarvo_MessageWindow";

constinit LazyGlobalInstance<MessageWindowClass> g_window_class(
    LazyGlobalLifetime::kDestroyAtExit);

HINSTANCE ThisModule() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// The user data starts out 0, so a success may also return 0: only a
// cleared last error tells the two apart.
void StoreWindowOwner(HWND window, MessageWindow* owner) {
  SetLastError(ERROR_SUCCESS);
  if (SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(owner)) == 0) {
    const DWORD error = GetLastError();
    CHECK(error == ERROR_SUCCESS)
        << "SetWindowLongPtrW failed: " << error;
  }
}

struct WindowProcCall {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  LRESULT result;
};

}  // namespace

MessageWindowClass::MessageWindowClass() : instance(ThisModule()) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &MessageWindow::GuardedWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kWindowClassName;
  atom = RegisterClassExW(&window_class);
  if (atom == 0) {
    PLOG(ERROR)
        << "Failed to register the window class for a message-only window";
  }
}

MessageWindowClass::~MessageWindowClass() {
  if (atom != 0)
    UnregisterClassW(MAKEINTATOM(atom), instance);
}

const MessageWindowClass& GetMessageWindowClass() {
  return *g_window_class.Get();
}

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() {
  if (window_ && !DestroyWindow(window_))
    PLOG(ERROR) << "Failed to destroy a message-only window";
}

bool MessageWindow::Create(MessageCallback callback) {
  callback_ = std::move(callback);
  const MessageWindowClass& window_class = GetMessageWindowClass();
  // WM_CREATE stores the handle in `window_`.
  HWND window = CreateWindowExW(0, MAKEINTATOM(window_class.atom), nullptr, 0,
                                0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                window_class.instance, this);
  if (!window) {
    PLOG(ERROR) << "Failed to create a message-only window";
    return false;
  }
  return true;
}

// static
LRESULT CALLBACK MessageWindow::GuardedWindowProc(HWND window, UINT message,
                                                  WPARAM wparam,
                                                  LPARAM lparam) {
  WindowProcCall call = {window, message, wparam, lparam, 0};
  const bool completed = CallWithExceptionGuard(
      [](void* context) {
        auto* call = static_cast<WindowProcCall*>(context);
        call->result = WindowProc(call->window, call->message, call->wparam,
                                  call->lparam);
      },
      &call);
  // The exception hook handled a fault: the call was abandoned.
  return completed ? call.result : 0;
}

// static
LRESULT MessageWindow::WindowProc(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  auto* self = reinterpret_cast<MessageWindow*>(
      GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      self = static_cast<MessageWindow*>(create->lpCreateParams);
      self->window_ = window;
      StoreWindowOwner(window, self);
      break;
    }
    case WM_DESTROY:
      // `self` was read first, so the callback still sees this message.
      StoreWindowOwner(window, nullptr);
      if (self)
        self->window_ = nullptr;
      break;
  }
  LRESULT result = 0;
  if (self && self->callback_ && self->callback_.Run(message, wparam, lparam,
                                                     &result)) {
    return result;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace base::win
