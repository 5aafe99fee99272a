#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_OPEN_HANDLES_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_OPEN_HANDLES_H_

#include <windows.h>

#include <atomic>

#include "base/ref_counted.h"
#include "base/time/time_delta.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Counts the connection and request handles of one download session whose
// closing notice WinINet has not sent yet. Shared by the downloader, the
// handles' contexts and the termination thread, since a notice may come
// after the downloader is gone. Any thread.
class WinInetOpenHandles : public base::RefCounted<WinInetOpenHandles> {
 public:
  WinInetOpenHandles();
  WinInetOpenHandles(const WinInetOpenHandles&) = delete;
  WinInetOpenHandles& operator=(const WinInetOpenHandles&) = delete;

  void OnOpened();
  void OnClosed();
  // True once every handle opened so far has been reported closed; false
  // when `limit` passed first.
  bool WaitUntilAllClosed(base::TimeDelta limit) const;

 private:
  friend class base::RefCounted<WinInetOpenHandles>;
  ~WinInetOpenHandles();

  std::atomic<int> open_{0};
  // Set whenever `open_` drops to 0.
  base::win::ScopedHandle all_closed_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_OPEN_HANDLES_H_
