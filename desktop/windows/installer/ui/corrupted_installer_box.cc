#include "desktop/windows/installer/ui/corrupted_installer_box.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/ui/custom_message_box.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {


void OpenProductWebSite() {
  const std::wstring url = base::Utf8ToWide(GetBrandingUrl("website"));
  LOG(INFO) << "Opening the product's web site";
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.lpVerb = L"open";
  info.lpFile = url.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info))
    PLOG(ERROR) << "Opening the product's web site failed";
}

}  // namespace

bool AskToDownloadAgain(bool may_run_elevated) {
  base::LoopRunner runner(Win32DialogDispatcher::GetInstance());
  int answer = CustomMessageBox::kClosed;
  CustomMessageBox box;
  const bool shown = box.Show(
      nullptr, kStringCorruptedTitle, GetLocalizedString(kStringCorruptedText), kStringCorruptedGo,
      kStringCorruptedCancel,
      base::Bind<void(int)>(
          [](int* answer, base::LoopRunner* runner, int given) {
            *answer = given;
            runner->Quit();
          },
          &answer, &runner));
  if (!shown) {
    LOG(ERROR) << "Cannot initialize the message box";
    return false;
  }
  runner.Run();
  box.Close();
  LOG(INFO) << "Corrupted installer box answered " << answer;
  const bool asked = answer == CustomMessageBox::kAccepted ||
                     answer == CustomMessageBox::kLinkClicked;
  if (asked && may_run_elevated) {
    LOG(WARNING) << "An installer that may run elevated opens no page: the "
                    "user's own handler would run elevated";
  } else if (asked) {
    OpenProductWebSite();
  }
  return true;
}

}  // namespace installer
