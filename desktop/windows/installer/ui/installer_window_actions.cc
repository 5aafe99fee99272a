// The installer window's user actions: the buttons that move through the
// installation, the options' changes counted in the current page's entry,
// the terms link, and the cancel question, passed on to the delegates.

#include <windows.h>

#include <richedit.h>

#include <iterator>
#include <string>

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/message_box_button_texts.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

constexpr char kTermsLinkTarget[] = "tos";

// Buttons that move through the installation, with the action name that the
// statistics record.
enum class NavigationEffect { kShowOptions, kShowWelcome, kAccept, kFullPackage };

struct Navigation {
  int control;
  const char* action;
  NavigationEffect effect;
};

constexpr Navigation kNavigations[] = {
    {kOptionsButton, "OPTIONS", NavigationEffect::kShowOptions},
    {kBackButton, "BACK", NavigationEffect::kShowWelcome},
    {kAcceptButton, "ACCEPT", NavigationEffect::kAccept},
    {kTryAgainButton, "RETRY", NavigationEffect::kAccept},
    {kUninstallButton, "UNINSTALL", NavigationEffect::kAccept},
    {kFullPackageButton, "FULL_PACKAGE", NavigationEffect::kFullPackage},
};

constexpr char kCancelAction[] = "CANCEL";
constexpr char kTermsAction[] = "TOS";

// Counters of the options' changes in the current page's entry.
struct OptionCounter {
  int control;
  int event;
  const char* key;
};

constexpr OptionCounter kPageCounters[] = {
    {kLanguageList, CBN_SELCHANGE, "changed_language"},
    {kModeList, CBN_SELCHANGE, "changed_install_mode"},
    {kFolderList, CBN_SELCHANGE, "changed_install_path"},
    {kFolderList, CBN_EDITCHANGE, "edited_install_path"},
};

constexpr OptionCounter kMainCounters[] = {
    {kMainFolderList, CBN_SELCHANGE, "changed_install_path_from_main_screen"},
    {kMainFolderList, CBN_EDITCHANGE, "edited_install_path_from_main_screen"},
};

const char* FindCounter(const OptionCounter* counters,
                        size_t count,
                        int control,
                        int event) {
  for (size_t i = 0; i < count; ++i) {
    if (counters[i].control == control && counters[i].event == event)
      return counters[i].key;
  }
  return nullptr;
}

}  // namespace

void InstallerWindow::OnMainCommand(int control, int event) {
  HWND control_window = ::GetDlgItem(dialog_, control);
  if (control == kTermsTextBox && event == EN_SETFOCUS) {
    // The terms are read, not selected: focus leaves them unselected.
    ::SendMessageW(control_window, EM_SETSEL, static_cast<WPARAM>(-1), 0);
    return;
  }
  if (const char* key = FindCounter(kMainCounters, std::size(kMainCounters),
                                    control, event)) {
    if (updating_controls_)
      return;
    CountInPage(key);
    ApplyPathFromControl(control, event == CBN_SELCHANGE);
    return;
  }
  if (event != BN_CLICKED)
    return;
  // The dialog presses its default button for the Enter key even when it
  // is hidden; a user can press only what is shown.
  if (!control_window || !::IsWindowVisible(control_window) ||
      !::IsWindowEnabled(control_window)) {
    return;
  }
  for (const Navigation& navigation : kNavigations) {
    if (navigation.control != control)
      continue;
    WriteNavigation(navigation.action);
    switch (navigation.effect) {
      case NavigationEffect::kShowOptions:
        ShowPage(kOptionsPage);
        return;
      case NavigationEffect::kShowWelcome:
        ShowPage(kWelcomePage);
        return;
      case NavigationEffect::kAccept:
        NotifyAccept();
        return;
      case NavigationEffect::kFullPackage:
        NotifyGetFullPackage();
        return;
    }
  }
  switch (control) {
    case kCancelButton:
      ConfirmCancel();
      return;
    case kMainBrowseButton:
      BrowseForFolder(kMainFolderList);
      return;
    case kDeleteUserDataBox:
      OnOptionClicked(control);
      InvalidateControlRect(control_window);
      return;
  }
}

void InstallerWindow::OnPageCommand(int control, int event) {
  HWND control_window = GetControl(control);
  if (const char* key = FindCounter(kPageCounters, std::size(kPageCounters),
                                    control, event)) {
    if (updating_controls_)
      return;
    CountInPage(key);
    switch (control) {
      case kLanguageList:
        OnLanguageSelected();
        return;
      case kModeList:
        OnModeSelected();
        return;
      case kFolderList:
        ApplyPathFromControl(control, event == CBN_SELCHANGE);
        return;
    }
    return;
  }
  if (event != BN_CLICKED)
    return;
  switch (control) {
    case kChangeFolderButton:
      BrowseForFolder(kFolderList);
      return;
    case kDefaultBrowserBox:
    case kImportDataBox:
    case kShareUsageBox:
      OnOptionClicked(control);
      InvalidateControlRect(control_window);
      return;
  }
}

void InstallerWindow::OnTermsLinkClicked(HWND control, const CHARRANGE& range) {
  WriteNavigation(kTermsAction);
  if (range.cpMax <= range.cpMin)
    return;
  std::wstring target(static_cast<size_t>(range.cpMax - range.cpMin) + 1,
                      L'\0');
  TEXTRANGEW text_range = {range, target.data()};
  const LRESULT length = ::SendMessageW(control, EM_GETTEXTRANGE, 0,
                                        reinterpret_cast<LPARAM>(&text_range));
  target.resize(length > 0 ? static_cast<size_t>(length) : 0);
  if (base::WideToUtf8(target) == kTermsLinkTarget)
    ShowPage(kTosPage);
}

void InstallerWindow::WriteNavigation(const char* action) {
  if (!page_stats_)
    return;
  page_stats_->SetString("navigation_action", action);
  page_stats_->SetTimeAndElapsed("navigation_time");
}

void InstallerWindow::CountInPage(const char* key) {
  if (page_stats_)
    page_stats_->Increment(key);
}

void InstallerWindow::ConfirmCancel() {
  if (installation_done_) {
    NotifyCancel();
    return;
  }
  const base::WeakReference alive = weak_source_.GetRef();
  int answer = 0;
  {
    ScopedMessageBoxButtonTexts button_texts;
    answer = ::MessageBoxW(
        dialog_,
        GetLocalizedString(IsUninstalling() ? kStringQuitUninstallation
                                            : kStringQuitInstallation)
            .c_str(),
        GetLocalizedString(kStringWindowTitle).c_str(),
        MB_YESNO | MB_ICONQUESTION);
  }
  if (!alive.IsValid() || answer != IDYES)
    return;
  WriteNavigation(kCancelAction);
  NotifyCancel();
}

// A delegate may destroy the window: nothing of it is touched after the
// delegates were told.
void InstallerWindow::NotifyAccept() {
  for (Delegate& delegate : delegates_)
    delegate.OnAccept();
}

void InstallerWindow::NotifyCancel() {
  for (Delegate& delegate : delegates_)
    delegate.OnCancel();
}

void InstallerWindow::NotifyGetFullPackage() {
  for (Delegate& delegate : delegates_)
    delegate.OnGetFullPackage();
}

}  // namespace installer
