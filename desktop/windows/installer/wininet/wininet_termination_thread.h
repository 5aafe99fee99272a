#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_

#include <windows.h>

#include "base/ref_counted.h"
#include "base/threading/runnable_thread.h"
#include "base/time/time_delta.h"
#include "desktop/windows/installer/wininet/scoped_internet_handle.h"

namespace installer {

class WinInetOpenHandles;

// "Wininet Termination": closes a download session once WinINet has said
// that every request and connection handle made in it is closed, or once
// `limit` has passed: WinINet never says so for a read stuck on a server
// gone silent, and the end of a download must not wait for it. The
// handles' contexts stay valid for whatever WinINet still reports. The
// downloader joins the thread before it starts again or goes away.
class WinInetTerminationThread : public base::RunnableThread {
 public:
  WinInetTerminationThread(HINTERNET session,
                           base::RefPtr<WinInetOpenHandles> open_handles,
                           base::TimeDelta limit);
  ~WinInetTerminationThread() override;

 private:
  void Run() override;

  ScopedInternetHandle session_;
  const base::RefPtr<WinInetOpenHandles> open_handles_;
  const base::TimeDelta limit_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_
