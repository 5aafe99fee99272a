#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_UI_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_UI_DELEGATE_H_

#include <windows.h>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"

namespace installer {

// Runs work that may need a window (a prompt) on the controller's thread:
// the downloader's proxy-credentials prompt, for the fetcher, the
// statistics and the preference defaults alike.
class UIDelegate {
 public:
  using UICallback = base::Callback<int(HWND)>;
  using ReplyCallback = base::Callback<void(int)>;

  virtual ~UIDelegate() = default;
  // Runs `ui_callback` with the controller's window, or refuses it (a
  // silent run answers 0, a cancelled prompt), and posts `reply` with the
  // result to `reply_runner`.
  virtual void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::RefPtr<base::TaskRunner> reply_runner,
      ReplyCallback reply) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_UI_DELEGATE_H_
