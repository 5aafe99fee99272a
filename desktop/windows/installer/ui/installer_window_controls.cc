// The installer window's controls: settings and status shown in them, texts
// in the interface language, and the user's changes passed to the settings.

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/placeholder_substitution.h"
#include "base/win/com_ptr.h"
#include "base/win/scoped_co_mem.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

constexpr COLORREF kLinkColor = 0x686868;
constexpr COLORREF kTitleColor = 0x2C1BFF;
constexpr COLORREF kTitleProductColor = 0x000000;
// Room around the full-package button's text.
constexpr int kButtonTextMargin = 30;

struct ControlText {
  int control;
  int string_id;
};

constexpr ControlText kInstallTexts[] = {
    {kOptionsButton, kStringOptions},
    {kCancelButton, kStringCancel},
    {kFullPackageButton, kStringGetFullInstaller},
    {kTryAgainButton, kStringTryAgain},
    {kProgressHeading, kStringThankYou},
    {kInstallFailedHeading, kStringInstallFailed},
    {kUninstallFailedHeading, kStringUninstallFailed},
    {kBackButton, kStringBack},
    {kChangeFolderButton, kStringChange},
    {kDefaultBrowserBox, kStringMakeDefaultBrowser},
    {kImportDataBox, kStringImportData},
    {kShareUsageBox, kStringShareUsageData},
    {kInvalidFolderText, kStringInvalidPath},
    {kRedText, kStringInvalidPath},
    {kLanguageLabel, kStringLanguageLabel},
    {kModeLabel, kStringInstallForLabel},
    {kFolderLabel, kStringInstallPathLabel},
};

constexpr ControlText kUninstallTexts[] = {
    {kCancelButton, kStringCancel},
    {kUninstallButton, kStringUninstall},
    {kUninstallQuestion, kStringUninstallQuestion},
    {kDeleteUserDataBox, kStringDeleteUserData},
    {kInstallFailedHeading, kStringUninstallFailed},
    {kUninstallFailedHeading, kStringUninstallFailed},
    {kTryAgainButton, kStringTryAgain},
    {kFullPackageButton, kStringGetFullInstaller},
    {kBackButton, kStringBack},
};

// The options' check boxes: the counter of a change and the settings it
// sets.
struct OptionBox {
  int control;
  const char* counter;
  bool (Settings::*set)(bool);
  bool (Settings::*also_set)(bool);
};

constexpr OptionBox kOptionBoxes[] = {
    {kDefaultBrowserBox, "changed_make_default_browser",
     &Settings::SetDefaultBrowser, nullptr},
    {kImportDataBox, "changed_import_data", &Settings::SetImportBrowserData,
     nullptr},
    {kShareUsageBox, "changed_enable_stats", &Settings::SetEnableStats,
     &Settings::SetEnableInstallerStats},
    {kDeleteUserDataBox, "changed_delete_profile", &Settings::SetDeleteProfile,
     nullptr},
};

// The install modes in the order of the mode list.
constexpr int kModeNames[] = {kStringAllUsers, kStringCurrentUser,
                              kStringStandalone};

constexpr wchar_t kModeHelpFormat[] = L"$1\n\t$2\n\n$3\n\t$4\n\n$5\n\t$6";

std::wstring GetText(HWND window) {
  if (!window)
    return std::wstring();
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1,
                    L'\0');
  text.resize(::GetWindowTextW(window, text.data(),
                               static_cast<int>(text.size())));
  return text;
}

std::wstring GetSelectedItemText(HWND combo) {
  const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR)
    return std::wstring();
  const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR)
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied = ::SendMessageW(combo, CB_GETLBTEXT, index,
                                        reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()),
                                b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

void SetText(HWND window, const std::wstring& text) {
  if (window && !text.empty())
    ::SetWindowTextW(window, text.c_str());
}

void ShowControl(HWND control, bool show) {
  if (control)
    ::ShowWindow(control, show ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void SetShield(HWND button, bool shield) {
  if (button && base::win::GetWindowsVersion() >= base::win::kVersionVista)
    ::SendMessageW(button, BCM_SETSHIELD, 0, shield ? TRUE : FALSE);
}

void SetCheck(HWND box, bool checked) {
  if (box)
    ::SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

// Sets a flag for one scope.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool* flag) : flag_(flag), previous_(*flag) {
    *flag_ = true;
  }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;
  ~ScopedFlag() { *flag_ = previous_; }

 private:
  bool* flag_;
  bool previous_;
};

InstallerWindow::FolderBrowser g_folder_browser_for_testing = nullptr;

int CALLBACK PreselectFolder(HWND dialog,
                             UINT message,
                             LPARAM parameter,
                             LPARAM initial_folder) {
  if (message == BFFM_INITIALIZED && initial_folder)
    ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, initial_folder);
  return 0;
}

bool GetParsingName(PCIDLIST_ABSOLUTE item, std::wstring* path) {
  base::win::ComPtr<IShellFolder> desktop;
  if (FAILED(::SHGetDesktopFolder(desktop.Receive())))
    return false;
  STRRET name = {};
  if (FAILED(desktop->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)) ||
      name.uType != STRRET_WSTR) {
    return false;
  }
  base::win::ScopedCoMem<wchar_t> text;
  text.Reset(name.pOleStr);
  *path = text.Get();
  return !path->empty();
}

bool BrowseWithShellDialog(HWND owner,
                           const std::wstring& title,
                           const std::wstring& initial_folder,
                           std::wstring* chosen_folder) {
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  if (!initial_folder.empty()) {
    info.lpfn = &PreselectFolder;
    info.lParam = reinterpret_cast<LPARAM>(initial_folder.c_str());
  }
  base::win::ScopedCoMem<ITEMIDLIST> item;
  item.Reset(::SHBrowseForFolderW(&info));
  if (!item.Get())
    return false;
  if (GetParsingName(item.Get(), chosen_folder))
    return true;
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(item.Get(), path))
    return false;
  *chosen_folder = path;
  return true;
}

}  // namespace

// static
void InstallerWindow::SetFolderBrowserForTesting(FolderBrowser browser) {
  g_folder_browser_for_testing = browser;
}

void InstallerWindow::OnSettingsChanged() {
  UpdateControls();
}

void InstallerWindow::OnPathChanged() {
  UpdateControls();
}

void InstallerWindow::OnLanguageChanged() {
  SetControlTexts();
  if (!IsUninstalling())
    SetAcceptTexts();
  SetTitleText();
  ::SetWindowTextW(dialog_, GetLocalizedString(kStringWindowTitle).c_str());
  ::InvalidateRect(dialog_, nullptr, TRUE);
  if (IsUninstalling())
    return;
  FillLanguageList();
  FillModeList();
  FitFullPackageButton();
}

void InstallerWindow::SetControlTexts() {
  for (const ControlText& entry :
       IsUninstalling() ? std::span<const ControlText>(kUninstallTexts)
                        : std::span<const ControlText>(kInstallTexts)) {
    SetText(GetControl(entry.control), GetLocalizedString(entry.string_id));
  }
}

void InstallerWindow::SetAcceptTexts() {
  const Status* status = settings_->GetStatus();
  const bool upgrade =
      status->existing_installation || status->existing_installation_traces;
  const std::wstring accept = GetLocalizedString(
      upgrade ? kStringAcceptAndUpgrade : kStringAcceptAndInstall);
  SetText(GetControl(kAcceptButton), accept);
  if (HWND agreement = GetControl(kTermsAgreementText)) {
    SetRichTextWithLinks(
        agreement, GetLocalizedStringWithArg(kStringTermsAgreement, accept),
        kLinkColor);
  }
}

void InstallerWindow::SetTitleText() {
  HWND title = GetControl(kTitleText);
  if (!title)
    return;
  const std::wstring product = GetLocalizedString(kStringTitleProduct);
  const std::wstring text = GetLocalizedStringWithArg(kStringTitle, product);
  ::SetWindowTextW(title, text.c_str());
  SetRichEditTextColor(title, kTitleColor);
  const size_t position = product.empty() ? text.npos : text.find(product);
  if (position != text.npos) {
    SetRichEditRangeColor(
        title, kTitleProductColor,
        {static_cast<LONG>(position),
         static_cast<LONG>(position + product.size())});
  }
}

void InstallerWindow::FillLanguageList() {
  HWND list = GetControl(kLanguageList);
  if (!list)
    return;
  ScopedFlag updating(&updating_controls_);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < languages_.size(); ++i) {
    // The host's list may end with an empty line, which names no language.
    if (languages_[i].empty())
      continue;
    const std::wstring name =
        GetLocalizedStringForLanguage(languages_[i], kStringLanguageName);
    const LRESULT index = ::SendMessageW(list, CB_ADDSTRING, 0,
                                         reinterpret_cast<LPARAM>(name.c_str()));
    if (index >= 0 &&
        ::SendMessageW(list, CB_SETITEMDATA, index, i) != CB_ERR) {
      continue;
    }
    LOG(ERROR) << "Adding item #" << i << "to the language dropdown failed";
    // An item without its code would stand for the first language.
    if (index >= 0)
      ::SendMessageW(list, CB_DELETESTRING, index, 0);
  }
  const LRESULT count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
  LRESULT selected = 0;
  for (LRESULT item = 0; item < count; ++item) {
    const auto code =
        static_cast<size_t>(::SendMessageW(list, CB_GETITEMDATA, item, 0));
    if (code < languages_.size() &&
        EqualsIgnoringCase(languages_[code], settings_->install_language())) {
      selected = item;
      break;
    }
  }
  ::SendMessageW(list, CB_SETCURSEL, selected, 0);
}

void InstallerWindow::FillModeList() {
  HWND list = GetControl(kModeList);
  if (!list)
    return;
  ScopedFlag updating(&updating_controls_);
  const LRESULT selected = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (int string_id : kModeNames) {
    std::wstring name = GetLocalizedString(string_id);
    std::wstring user;
    if (string_id == kStringCurrentUser && GetCurrentUserName(&user) &&
        !user.empty()) {
      name += L" (" + user + L")";
    }
    ::SendMessageW(list, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(name.c_str()));
  }
  ::SendMessageW(list, CB_SETCURSEL, selected == CB_ERR ? 0 : selected, 0);
  if (!tooltip_)
    return;
  std::wstring help = GetModeHelpText();
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.hwnd = page_dialog_;
  tool.uId = reinterpret_cast<UINT_PTR>(list);
  tool.lpszText = help.data();
  ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0,
                 reinterpret_cast<LPARAM>(&tool));
}

std::wstring InstallerWindow::GetModeHelpText() const {
  std::vector<std::wstring> parts;
  for (int id = kStringAllUsersHelpHeading; id <= kStringStandaloneHelp; ++id)
    parts.push_back(GetLocalizedString(id));
  return base::SubstituteWidePlaceholders(kModeHelpFormat, parts, nullptr);
}

void InstallerWindow::FitFullPackageButton() {
  HWND button = GetControl(kFullPackageButton);
  HWND retry = GetControl(kTryAgainButton);
  if (!button || !retry)
    return;
  const std::wstring text = GetText(button);
  SIZE text_size = {};
  {
    ScopedWindowDc dc(dialog_);
    ScopedSelectObject font(dc.Get(), normal_font_.Get());
    ::GetTextExtentPoint32W(dc.Get(), text.c_str(),
                            static_cast<int>(text.size()), &text_size);
  }
  RECT rect = {};
  RECT retry_rect = {};
  ::GetWindowRect(button, &rect);
  ::GetWindowRect(retry, &retry_rect);
  ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
  const int width = std::max<int>(text_size.cx + kButtonTextMargin,
                                  retry_rect.right - retry_rect.left);
  ::SetWindowPos(button, nullptr, rect.right - width, rect.top, width,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void InstallerWindow::UpdateControls() {
  const Status* status = settings_->GetStatus();
  const bool valid = status->valid_install_path;
  const bool shield =
      valid && NeedsElevation(settings_->GetFlag(ALL_USERS_FLAG),
                              status->has_write_access);
  ScopedFlag updating(&updating_controls_);
  if (IsUninstalling())
    UpdateUninstallControls(shield);
  else
    UpdateInstallControls(valid, shield);
}

void InstallerWindow::UpdateUninstallControls(bool shield) {
  SetShield(GetControl(kUninstallButton), shield);
  HWND delete_box = GetControl(kDeleteUserDataBox);
  ShowControl(delete_box, settings_->profile_deletion_allowed() &&
                              current_page_ == kUninstallPage);
  SetCheck(delete_box, settings_->GetFlag(DELETE_PROFILE));
}

void InstallerWindow::UpdateInstallControls(bool valid, bool shield) {
  const Status* status = settings_->GetStatus();
  HWND mode_list = GetControl(kModeList);
  if (mode_list) {
    ::EnableWindow(mode_list,
                   settings_->operation() == Settings::kInstalling);
    const int mode = settings_->GetFlag(COPY_ONLY)        ? 2
                     : settings_->GetFlag(ALL_USERS_FLAG) ? 0
                                                          : 1;
    ::SendMessageW(mode_list, CB_SETCURSEL, mode, 0);
  }
  SetAcceptTexts();
  SetShield(GetControl(kAcceptButton), shield);
  SetShield(GetControl(kTryAgainButton), shield);
  bool default_browser_allowed = !settings_->GetFlag(COPY_ONLY);
  if (default_browser_allowed &&
      settings_->GetFlag(REPLACE_KILNOR_INSTALLATION)) {
    default_browser_allowed =
        !(status->kilnor_installation && status->is_http_handler);
  }
  if (HWND box = GetControl(kDefaultBrowserBox))
    ::EnableWindow(box, default_browser_allowed);
  SetCheck(GetControl(kDefaultBrowserBox), settings_->GetFlag(DEFAULT_BROWSER));
  SetCheck(GetControl(kImportDataBox), settings_->GetFlag(IMPORT_BROWSER_DATA));
  SetCheck(GetControl(kShareUsageBox),
           settings_->GetFlag(ENABLE_TARVO_STATS) ||
               settings_->GetFlag(ENABLE_INSTALLER_STATS));
  FillPathCombo(GetControl(kFolderList));
  FillPathCombo(GetControl(kMainFolderList));
  for (int control : {kAcceptButton, kBackButton}) {
    if (HWND button = GetControl(control))
      ::EnableWindow(button, valid);
  }
  HWND invalid_text = GetControl(kInvalidFolderText);
  ShowControl(invalid_text, !valid);
  InvalidateControlRect(invalid_text);
  // The main page's own notice shows with the main page's folder list.
  HWND red_text = GetControl(kRedText);
  ShowControl(red_text, IsFolderKnownInvalid() && current_page_ == kWelcomePage);
  InvalidateControlRect(red_text);
}

void InstallerWindow::FillPathCombo(HWND combo) {
  if (!combo)
    return;
  const base::FilePath& folder = settings_->GetStatus()->install_folder;
  // The user may be typing in the list's edit field: its caret stays.
  DWORD selection_start = 0;
  DWORD selection_end = 0;
  ::SendMessageW(combo, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&selection_start),
                 reinterpret_cast<LPARAM>(&selection_end));
  const std::wstring typed = GetText(combo);
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  LRESULT selected = CB_ERR;
  for (const base::FilePath& candidate : settings_->GetDefaultInstallFolders()) {
    const LRESULT index =
        ::SendMessageW(combo, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(candidate.value().c_str()));
    if (selected == CB_ERR && index >= 0 &&
        base::FilePath::CompareIgnoreCase(candidate, folder) == 0) {
      selected = index;
    }
  }
  if (selected != CB_ERR)
    ::SendMessageW(combo, CB_SETCURSEL, selected, 0);
  else
    SetComboPath(combo, folder.value());
  if (GetText(combo) == typed) {
    ::SendMessageW(combo, CB_SETEDITSEL, 0,
                   MAKELPARAM(selection_start, selection_end));
  }
}

void InstallerWindow::SetComboPath(HWND combo, const std::wstring& path) {
  if (!combo || GetText(combo) == path)
    return;
  ScopedFlag updating(&updating_controls_);
  const LRESULT index = ::SendMessageW(combo, CB_FINDSTRINGEXACT,
                                       static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(path.c_str()));
  if (index != CB_ERR)
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
  else
    ::SetWindowTextW(combo, path.c_str());
}

void InstallerWindow::OnModeSelected() {
  if (!settings_->changeable()) {
    UpdateControls();
    return;
  }
  const LRESULT index = ::SendMessageW(GetControl(kModeList), CB_GETCURSEL, 0, 0);
  if (index >= Settings::kAllUsersMode && index <= Settings::kStandaloneMode)
    settings_->SetMode(static_cast<Settings::Mode>(index));
}

void InstallerWindow::OnLanguageSelected() {
  if (!settings_->changeable()) {
    UpdateControls();
    return;
  }
  HWND list = GetControl(kLanguageList);
  const LRESULT index = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (index != CB_ERR) {
    const auto code =
        static_cast<size_t>(::SendMessageW(list, CB_GETITEMDATA, index, 0));
    if (code < languages_.size())
      settings_->SetLanguage(languages_[code]);
  }
  UpdateControls();
}

void InstallerWindow::OnOptionClicked(int control) {
  if (!settings_->changeable()) {
    UpdateControls();
    return;
  }
  HWND box = GetControl(control);
  const bool checked =
      ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
  for (const OptionBox& option : kOptionBoxes) {
    if (option.control != control)
      continue;
    CountInPage(option.counter);
    (settings_->*option.set)(checked);
    if (option.also_set)
      (settings_->*option.also_set)(checked);
  }
}

void InstallerWindow::ApplyPathFromControl(int control, bool from_selection) {
  if (!settings_->changeable()) {
    UpdateControls();
    return;
  }
  HWND combo = GetControl(control);
  // While the user types, the list selects the first item the text begins
  // with: only a selection change means the selected item.
  std::wstring path = from_selection ? GetSelectedItemText(combo) : L"";
  if (path.empty())
    path = GetText(combo);
  settings_->SetInstallFolderIfAllowed(base::FilePath(path));
}

void InstallerWindow::BrowseForFolder(int folder_list_id) {
  HWND folder_list = GetControl(folder_list_id);
  // The dialog opens the folder it starts from, and this window may be
  // elevated: a refused folder (a pipe through a share) is not its start.
  std::wstring initial_folder = GetText(folder_list);
  if (!IsValidInstallPath(base::FilePath(initial_folder), false))
    initial_folder.clear();
  FolderBrowser browser = g_folder_browser_for_testing
                              ? g_folder_browser_for_testing
                              : &BrowseWithShellDialog;
  std::wstring chosen_folder;
  if (!browser(dialog_, GetLocalizedString(kStringBrowseForFolder),
               initial_folder, &chosen_folder)) {
    return;
  }
  SetComboPath(folder_list, chosen_folder);
  ApplyPathFromControl(folder_list_id, false);
}

void InstallerWindow::InvalidateControlRect(HWND control) {
  HWND parent = control ? ::GetParent(control) : nullptr;
  if (!parent)
    return;
  RECT rect = {};
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  ::InvalidateRect(parent, &rect, TRUE);
}

}  // namespace installer
