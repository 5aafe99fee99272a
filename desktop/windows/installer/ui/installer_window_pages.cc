// The installer window's pages: which controls each page shows and where
// the focus goes, the progress and error pages' contents, and the entry
// each page adds to the statistics' page sequence.

#include <windows.h>

#include <commctrl.h>

#include <iterator>
#include <string>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/message_box_button_texts.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

constexpr const char* kPageNames[] = {"WELCOME", "UNINSTALL", "TOS",
                                      "OPTIONS", "PROGRESS",  "ERROR"};

constexpr char kPageSequenceKey[] = "ui.page_sequence";

constexpr uint32_t PageBit(InstallerWindow::Page page) {
  return 1u << page;
}
constexpr uint32_t kW = PageBit(InstallerWindow::kWelcomePage);
constexpr uint32_t kU = PageBit(InstallerWindow::kUninstallPage);
constexpr uint32_t kT = PageBit(InstallerWindow::kTosPage);
constexpr uint32_t kO = PageBit(InstallerWindow::kOptionsPage);
constexpr uint32_t kP = PageBit(InstallerWindow::kProgressPage);
constexpr uint32_t kE = PageBit(InstallerWindow::kErrorPage);

// The pages on which each control of the main dialog shows.
struct ControlPages {
  int control;
  uint32_t pages;
};

constexpr ControlPages kControlPages[] = {
    {kLogoArea, kW | kU | kP | kE},
    {kTermsTextBox, kT},
    {kBackButton, kT | kO | kE},
    {kTitleText, kW},
    {kTermsAgreementText, kW},
    {kOptionsButton, kW},
    {kAcceptButton, kW | kT | kO},
    {kProgressHeading, kP},
    {kProgressBar, kP},
    {kPhaseText, kP | kE},
    {kInstallFailedHeading, kE},
    {kUninstallFailedHeading, kE},
    {kTryAgainButton, kE},
    {kFullPackageButton, kE},
    {kCancelButton, kU},
    {kUninstallButton, kU},
    {kDeleteUserDataBox, kU},
    {kUninstallQuestion, kU},
    {kMainFolderList, kW},
    {kMainBrowseButton, kW},
    // Shown only while the folder cannot be used, see ShowPage.
    {kRedText, kW},
};

// The control that takes the focus on each page (0: none).
constexpr int kPageFocus[] = {
    kAcceptButton, kUninstallButton, kAcceptButton, kAcceptButton, 0,
    kTryAgainButton};

}  // namespace

// static
const char* InstallerWindow::GetPageName(int page) {
  if (page < 0 || page >= static_cast<int>(std::size(kPageNames)))
    return "invalid";
  return kPageNames[page];
}

void InstallerWindow::ShowPage(Page page) {
  if (page == current_page_)
    return;
  page_stats_ = stats_.AddListEntry(kPageSequenceKey);
  page_stats_->SetString("page_type", GetPageName(page));
  const uint32_t bit = 1u << page;
  for (const ControlPages& entry : kControlPages) {
    if (HWND control = ::GetDlgItem(dialog_, entry.control)) {
      ::ShowWindow(control,
                   (entry.pages & bit) ? SW_SHOWNOACTIVATE : SW_HIDE);
    }
  }
  if (IsUninstalling()) {
    ::ShowWindow(GetControl(kProgressHeading), SW_HIDE);
    ::ShowWindow(GetControl(kInstallFailedHeading), SW_HIDE);
  } else {
    ::ShowWindow(GetControl(kUninstallFailedHeading), SW_HIDE);
  }
  if (!settings_->profile_deletion_allowed())
    ::ShowWindow(GetControl(kDeleteUserDataBox), SW_HIDE);
  if (!IsFolderKnownInvalid())
    ::ShowWindow(GetControl(kRedText), SW_HIDE);
  if (page_dialog_) {
    ::ShowWindow(page_dialog_,
                 page == kOptionsPage ? SW_SHOWNOACTIVATE : SW_HIDE);
  }
  // A hidden button must not keep the focus: the Enter key would press it.
  const int focus = page < kNoPage ? kPageFocus[page] : 0;
  if (HWND focus_control = focus ? GetControl(focus) : nullptr) {
    ::SendMessageW(dialog_, WM_NEXTDLGCTL,
                   reinterpret_cast<WPARAM>(focus_control), TRUE);
  } else {
    ::SetFocus(dialog_);
  }
  error_page_shown_ = page == kErrorPage;
  ::InvalidateRect(dialog_, nullptr, TRUE);
  current_page_ = page;
}

void InstallerWindow::SetPhase(int phase) {
  int string_id = kStringInstalling;
  std::wstring argument;
  if (phase == 0 || phase == 1) {
    string_id = kStringDownloading;
  } else if (phase == 2) {
    string_id = kStringExtracting;
  } else if (IsUninstalling()) {
    string_id = kStringUninstalling;
  } else if (!settings_->GetFlag(COPY_ONLY) &&
             !settings_->GetFlag(ALL_USERS_FLAG)) {
    string_id = kStringInstallingForUser;
    if (!GetUserDisplayName(&argument))
      GetCurrentUserName(&argument);
  }
  const std::wstring text = string_id == kStringInstallingForUser
                                ? GetLocalizedStringWithArg(string_id, argument)
                                : GetLocalizedString(string_id);
  HWND label = GetControl(kPhaseText);
  ::SetWindowTextW(label, text.c_str());
  InvalidateControlRect(label);
}

void InstallerWindow::StartProgress(int low, int high, bool marquee) {
  ShowPage(kProgressPage);
  HWND bar = GetControl(kProgressBar);
  if (!marquee) {
    ::SendMessageW(bar, PBM_SETRANGE32, low, high);
    ::SendMessageW(bar, PBM_SETSTEP, 1, 0);
    ::SendMessageW(bar, PBM_SETPOS, 0, 0);
    return;
  }
  ::SetWindowLongPtrW(bar, GWL_STYLE,
                      ::GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
  ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
}

void InstallerWindow::SetProgress(int position) {
  HWND bar = GetControl(kProgressBar);
  const int current = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
  if (position > current + 10) {
    ::SendMessageW(bar, PBM_SETPOS, position, 0);
    return;
  }
  // Small advances go unit by unit, so the bar moves smoothly.
  for (int step = current; step < position; ++step)
    ::SendMessageW(bar, PBM_STEPIT, 0, 0);
}

void InstallerWindow::ShowError(const std::wstring& text,
                                bool offer_full_package,
                                const std::string& failure_reason) {
  ShowPage(kErrorPage);
  ::ShowWindow(GetControl(kFullPackageButton),
               offer_full_package ? SW_SHOWNOACTIVATE : SW_HIDE);
  LOG(INFO) << "Displaying error: \"" << text.c_str() << "\" and "
            << (offer_full_package ? "" : "don't ") << "offer full package";
  if (run_immediately_ || IsUninstalling())
    ::ShowWindow(GetControl(kBackButton), SW_HIDE);
  HWND label = GetControl(kPhaseText);
  ::SetWindowTextW(label, text.c_str());
  InvalidateControlRect(label);
  page_stats_->SetString("failure_reason", failure_reason);
}

void InstallerWindow::ShowMessageBox(const std::wstring& text) {
  const base::WeakReference alive = weak_source_.GetRef();
  {
    ScopedMessageBoxButtonTexts button_texts;
    ::MessageBoxW(dialog_, text.c_str(),
                  GetLocalizedString(kStringWindowTitle).c_str(),
                  MB_ICONERROR);
  }
  // The box runs a modal loop, in which tasks may have destroyed the window.
  if (!alive.IsValid())
    return;
  if (page_stats_)
    page_stats_->SetString("error_displayed", base::WideToUtf8(text));
  NotifyCancel();
}

}  // namespace installer
