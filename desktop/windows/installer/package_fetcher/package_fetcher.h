#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include <windows.h>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"

namespace installer {

// Obtains the browser package for a front-end process. For now only the two
// faces through which the fetcher and its downloads reach a controller.
class PackageFetcher {
 public:
  // Progress and fetch state, on the controller's thread.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void SetTotalProgress(int total) = 0;
    virtual void SetCurrentProgress(int current) = 0;
    // A download retries after more than one retry in a row.
    virtual void NotifyStalled() = 0;
    virtual void NotifyStatusChanged(int state) = 0;
  };

  // Runs work that may need a window (a prompt) on the controller's thread.
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
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
