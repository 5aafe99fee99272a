#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/wininet/wininet_open_handles.h"

namespace installer {

WinInetTerminationThread::WinInetTerminationThread(
    HINTERNET session,
    base::RefPtr<WinInetOpenHandles> open_handles,
    base::TimeDelta limit)
    : base::RunnableThread("Wininet Termination"),
      session_(session),
      open_handles_(std::move(open_handles)),
      limit_(limit) {}

WinInetTerminationThread::~WinInetTerminationThread() = default;

void WinInetTerminationThread::Run() {
  LOG(INFO) << "Waiting for WinINET to finish";
  if (!open_handles_->WaitUntilAllClosed(limit_)) {
    LOG(WARNING) << "WinINet did not report every handle closed within "
                 << limit_.InMilliseconds() << " ms; closing the session";
  }
  // Without its callback, closing the session reports nothing; handles
  // still open keep calling back into their own contexts.
  ::InternetSetStatusCallbackW(session_.Get(), nullptr);
  session_.Close();
}

}  // namespace installer
