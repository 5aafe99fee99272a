#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_SCOPED_INTERNET_HANDLE_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_SCOPED_INTERNET_HANDLE_H_

#include <windows.h>

#include <wininet.h>

#include <atomic>

namespace installer {

// Owns one WinINet handle. The handle value is taken atomically, so that of
// two closings whichever comes first closes it and the other finds nothing
// to close.
class ScopedInternetHandle {
 public:
  ScopedInternetHandle() = default;
  explicit ScopedInternetHandle(HINTERNET handle) : handle_(handle) {}
  ScopedInternetHandle(const ScopedInternetHandle&) = delete;
  ScopedInternetHandle& operator=(const ScopedInternetHandle&) = delete;
  ~ScopedInternetHandle() { Close(); }

  bool IsValid() const { return Get() != nullptr; }
  HINTERNET Get() const { return handle_.load(std::memory_order_acquire); }
  // Closes the held handle and takes `handle`.
  void Set(HINTERNET handle);
  // Gives up ownership without closing.
  HINTERNET Take() { return handle_.exchange(nullptr); }
  void Close();

 private:
  std::atomic<HINTERNET> handle_{nullptr};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_SCOPED_INTERNET_HANDLE_H_
