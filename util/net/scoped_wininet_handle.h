#ifndef UTIL_NET_SCOPED_WININET_HANDLE_H_
#define UTIL_NET_SCOPED_WININET_HANDLE_H_

#include <windows.h>

#include <wininet.h>

namespace util {

// Owns a WinINet handle of one synchronous request: the session, the
// connection or the request itself.
class ScopedWinInetHandle {
 public:
  explicit ScopedWinInetHandle(HINTERNET handle) : handle_(handle) {}
  ScopedWinInetHandle(const ScopedWinInetHandle&) = delete;
  ScopedWinInetHandle& operator=(const ScopedWinInetHandle&) = delete;
  ~ScopedWinInetHandle() {
    if (handle_)
      ::InternetCloseHandle(handle_);
  }

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

}  // namespace util

#endif  // UTIL_NET_SCOPED_WININET_HANDLE_H_
