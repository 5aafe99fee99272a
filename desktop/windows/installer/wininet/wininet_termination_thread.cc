#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

#include "base/logging.h"

namespace installer {

WinInetTerminationThread::WinInetTerminationThread(HINTERNET session,
                                                   HANDLE handles_closed)
    : base::RunnableThread("Wininet Termination"),
      session_(session),
      handles_closed_(handles_closed) {}

WinInetTerminationThread::~WinInetTerminationThread() = default;

void WinInetTerminationThread::Run() {
  LOG(INFO) << "Waiting for WinINET to finish";
  ::WaitForSingleObject(handles_closed_, INFINITE);
  // The session has no pending work left; without its callback, closing it
  // reports nothing either.
  ::InternetSetStatusCallbackW(session_.Get(), nullptr);
  session_.Close();
}

}  // namespace installer
