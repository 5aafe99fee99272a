#include "desktop/windows/installer/wininet/wininet_handle_context.h"

#include <utility>

#include "desktop/windows/installer/wininet/wininet_downloader.h"
#include "desktop/windows/installer/wininet/wininet_open_handles.h"

namespace installer {

WinInetHandleContext::WinInetHandleContext(
    WinInetDownloader* downloader,
    base::RefPtr<WinInetOpenHandles> open_handles,
    size_t buffer_size)
    : downloader_(downloader),
      open_handles_(std::move(open_handles)),
      buffer_size_(buffer_size),
      buffer_(buffer_size ? std::make_unique<char[]>(buffer_size) : nullptr) {}

WinInetHandleContext::~WinInetHandleContext() = default;

// static
void CALLBACK WinInetHandleContext::StatusCallback(HINTERNET handle,
                                                   DWORD_PTR context,
                                                   DWORD status,
                                                   void* information,
                                                   DWORD information_length) {
  // The session handle carries no context.
  if (!context)
    return;
  reinterpret_cast<WinInetHandleContext*>(context)->OnStatus(
      handle, status, information, information_length);
}

void WinInetHandleContext::OnHandleMade() {
  open_handles_->OnOpened();
  held_by_handle_ = base::RefPtr<WinInetHandleContext>(this);
}

void WinInetHandleContext::Detach() {
  if (dispatching_thread_ == ::GetCurrentThreadId()) {
    // Inside a callback of this handle on this thread: the lock is ours.
    downloader_ = nullptr;
    return;
  }
  base::AutoLock hold(lock_);
  downloader_ = nullptr;
}

void WinInetHandleContext::OnStatus(HINTERNET handle,
                                    DWORD status,
                                    void* information,
                                    DWORD information_length) {
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    OnHandleClosing();
    return;
  }
  // Closing the handle from inside the callback may drop the handle's
  // reference before this returns.
  const base::RefPtr<WinInetHandleContext> keep(this);
  const DWORD thread = ::GetCurrentThreadId();
  if (dispatching_thread_ == thread) {
    if (downloader_)
      downloader_->OnStatus(this, handle, status, information,
                            information_length);
    return;
  }
  base::AutoLock hold(lock_);
  if (!downloader_)
    return;
  dispatching_thread_ = thread;
  downloader_->OnStatus(this, handle, status, information, information_length);
  dispatching_thread_ = 0;
}

void WinInetHandleContext::OnHandleClosing() {
  // The handle's last notice: nothing of it calls back after this.
  open_handles_->OnClosed();
  base::RefPtr<WinInetHandleContext> last = std::move(held_by_handle_);
}

}  // namespace installer
