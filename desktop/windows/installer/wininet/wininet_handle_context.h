#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HANDLE_CONTEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HANDLE_CONTEXT_H_

#include <windows.h>

#include <wininet.h>

#include <atomic>
#include <cstddef>
#include <memory>

#include "base/ref_counted.h"
#include "base/threading/lock.h"

namespace installer {

class WinInetDownloader;
class WinInetOpenHandles;

// What one connection or request handle of a download points to as its
// WinINet context. WinINet may call back for a handle after the downloader
// gave it up (a read stuck on a silent server completes once the server
// closes) or went away, so the context outlives both: the handle holds a
// reference until its closing notice, and the downloader detaches from it.
// It also holds the request's read buffer, into which such a late read
// still writes.
class WinInetHandleContext : public base::RefCounted<WinInetHandleContext> {
 public:
  // `buffer_size` is 0 for a handle that reads nothing.
  WinInetHandleContext(WinInetDownloader* downloader,
                       base::RefPtr<WinInetOpenHandles> open_handles,
                       size_t buffer_size);
  WinInetHandleContext(const WinInetHandleContext&) = delete;
  WinInetHandleContext& operator=(const WinInetHandleContext&) = delete;

  // The status callback of a download session's handles.
  static void CALLBACK StatusCallback(HINTERNET handle,
                                      DWORD_PTR context,
                                      DWORD status,
                                      void* information,
                                      DWORD information_length);

  // Owner thread. The handle made with this context now exists: it keeps
  // the context until WinINet reports it closing.
  void OnHandleMade();
  // Owner thread. No callback reaches the downloader once this returns; one
  // in flight on another thread is waited for.
  void Detach();

  // For the downloader, inside a callback of this handle.
  char* buffer() { return buffer_.get(); }
  size_t buffer_size() const { return buffer_size_; }
  DWORD* last_read() { return &last_read_; }

 private:
  friend class base::RefCounted<WinInetHandleContext>;
  ~WinInetHandleContext();

  void OnStatus(HINTERNET handle,
                DWORD status,
                void* information,
                DWORD information_length);
  void OnHandleClosing();

  base::Lock lock_;
  WinInetDownloader* downloader_;
  // The thread forwarding a callback under `lock_`: WinINet calls back
  // again on the same thread from inside calls the downloader makes.
  std::atomic<DWORD> dispatching_thread_{0};
  const base::RefPtr<WinInetOpenHandles> open_handles_;
  // The handle's reference, dropped at its closing notice.
  base::RefPtr<WinInetHandleContext> held_by_handle_;
  const size_t buffer_size_;
  std::unique_ptr<char[]> buffer_;
  // WinINet fills it when a pending read completes.
  DWORD last_read_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_HANDLE_CONTEXT_H_
