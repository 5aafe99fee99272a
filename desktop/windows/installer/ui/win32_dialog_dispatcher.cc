#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include "base/lazy_global.h"
#include "base/logging.h"

namespace installer {
namespace {

constinit base::LazyGlobalInstance<Win32DialogDispatcher> g_dispatcher(
    base::LazyGlobalLifetime::kDestroyAtExit);

}  // namespace

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() {
  return g_dispatcher.Get();
}

uint32_t Win32DialogDispatcher::Dispatch(const MSG& message) {
  if (current_dialog_ &&
      ::IsDialogMessageW(current_dialog_, const_cast<MSG*>(&message))) {
    return 0;
  }
  return kDefaultProcessing;
}

void Win32DialogDispatcher::SetCurrentDialog(HWND dialog) {
  LOG(INFO) << "Switching to hwnd " << dialog;
  current_dialog_ = dialog;
}

void Win32DialogDispatcher::ClearCurrentDialog(HWND dialog) {
  LOG(INFO) << "Switching away from hwnd " << dialog;
  if (current_dialog_ == dialog)
    current_dialog_ = nullptr;
  else if (current_dialog_)
    LOG(INFO) << "Another hwnd was already selected";
}

}  // namespace installer
