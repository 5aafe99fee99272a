#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_

#include <windows.h>

#include "base/threading/runnable_thread.h"
#include "desktop/windows/installer/wininet/scoped_internet_handle.h"

namespace installer {

// "Wininet Termination": closes a download session once WinINet has said
// that every request and connection handle made in it is closed, so that no
// status callback can reach the downloader afterwards. The downloader joins
// it before it starts again or goes away.
class WinInetTerminationThread : public base::RunnableThread {
 public:
  // `handles_closed` stays valid until the thread is joined.
  WinInetTerminationThread(HINTERNET session, HANDLE handles_closed);
  ~WinInetTerminationThread() override;

 private:
  void Run() override;

  ScopedInternetHandle session_;
  HANDLE handles_closed_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_
