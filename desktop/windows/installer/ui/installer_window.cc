#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <string>
#include <string_view>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/utils.h"
#include "desktop/windows/installer/status.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/ui/installer_strings.h"
#include "desktop/windows/installer/ui/message_box_button_texts.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

constexpr const char* kPageNames[] = {"WELCOME", "UNINSTALL", "TOS",
                                      "OPTIONS", "PROGRESS",  "ERROR"};

constexpr char kPageSequenceKey[] = "ui.page_sequence";
constexpr char kTermsLinkTarget[] = "tos";

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

// Fonts: points, weight, face, quality and pitch.
struct FontSpec {
  int points;
  int weight;
  const wchar_t* face;
  bool smooth;
};

constexpr FontSpec kNormalFont = {8, 378, L"MS Shell Dlg", false};
constexpr FontSpec kBoldFont = {8, FW_BOLD, L"MS Shell Dlg", true};
constexpr FontSpec kHeadingFont = {14, FW_MEDIUM, L"MS Shell Dlg 2", true};
constexpr FontSpec kTitleFont = {22, FW_BLACK, L"Segoe UI", true};

ScopedFont MakeFont(const FontSpec& spec, int pixels_per_inch) {
  return ScopedFont(::CreateFontW(
      -::MulDiv(spec.points, pixels_per_inch, 72), 0, 0, 0, spec.weight, FALSE,
      FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS,
      spec.smooth ? ANTIALIASED_QUALITY : DEFAULT_QUALITY,
      spec.smooth ? VARIABLE_PITCH : DEFAULT_PITCH, spec.face));
}

void SetControlFont(HWND control, const ScopedFont& font) {
  if (control && font)
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()),
                   FALSE);
}

// The terms text as the edit control wants it: line ends "\r\n".
std::wstring TermsTextFromResource(std::string_view bytes) {
  // The resource is a file of the host, not a C string: it ends where its
  // size says, or at a NUL before that.
  const size_t end = bytes.find('\0');
  if (end != bytes.npos)
    bytes = bytes.substr(0, end);
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 32);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
      text.push_back('\r');
    text.push_back(bytes[i]);
  }
  return base::Utf8ToWide(text);
}

}  // namespace

// static
std::unique_ptr<InstallerWindow> InstallerWindow::Create(Settings* settings,
                                                         StatsNode* stats,
                                                         bool run_immediately) {
  LoadRichEditLibrary();
  auto window = std::make_unique<InstallerWindow>(ConstructionKey(), settings,
                                                  stats, run_immediately);
  if (!window->CreateDialogs()) {
    PLOG(ERROR) << "Window creation failed.";
    return nullptr;
  }
  return window;
}

InstallerWindow::InstallerWindow(ConstructionKey,
                                 Settings* settings,
                                 StatsNode* stats,
                                 bool run_immediately)
    : settings_(settings),
      run_immediately_(run_immediately),
      languages_(LoadAvailableLanguages()),
      stats_(*stats) {
  if (!run_immediately_)
    settings_->AddObserver(this);
}

InstallerWindow::~InstallerWindow() {
  weak_source_.Invalidate();
  // The dialogs may still get messages while they are destroyed; they must
  // not reach this object any more.
  for (HWND dialog : {page_dialog_, dialog_}) {
    if (!dialog)
      continue;
    Win32DialogDispatcher::GetInstance()->ClearCurrentDialog(dialog);
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
    ::DestroyWindow(dialog);
  }
  if (!run_immediately_)
    settings_->RemoveObserver(this);
}

bool InstallerWindow::CreateDialogs() {
  HINSTANCE host = ::GetModuleHandleW(nullptr);
  if (!::CreateDialogParamW(host, MAKEINTRESOURCEW(kMainDialog), nullptr,
                            &MainDialogProc, reinterpret_cast<LPARAM>(this))) {
    return false;
  }
  if (!::CreateDialogParamW(host, MAKEINTRESOURCEW(kOptionsPageDialog),
                            dialog_, &PageDialogProc,
                            reinterpret_cast<LPARAM>(this))) {
    return false;
  }
  ShowPage(IsUninstalling() ? kUninstallPage : kWelcomePage);
  ::ShowWindow(dialog_, SW_SHOW);
  OnLanguageChanged();
  if (!settings_->IsStatusPending())
    OnPathChanged();
  return true;
}

// static
const char* InstallerWindow::GetPageName(int page) {
  if (page < 0 || page >= static_cast<int>(std::size(kPageNames)))
    return "invalid";
  return kPageNames[page];
}

void InstallerWindow::AddDelegate(Delegate* delegate) {
  delegates_.AddObserver(delegate);
}

void InstallerWindow::RemoveDelegate(Delegate* delegate) {
  delegates_.RemoveObserver(delegate);
}

HWND InstallerWindow::GetControl(int id) const {
  HWND control = dialog_ ? ::GetDlgItem(dialog_, id) : nullptr;
  if (!control && page_dialog_)
    control = ::GetDlgItem(page_dialog_, id);
  return control;
}

bool InstallerWindow::IsUninstalling() const {
  return settings_->GetFlag(UNINSTALL_FLAG);
}

bool InstallerWindow::IsFolderKnownInvalid() const {
  // Before its status arrives a folder is not yet valid, but not wrong
  // either: no warning for a folder still being looked at.
  return !IsUninstalling() && !settings_->IsStatusPending() &&
         !settings_->GetStatus()->valid_install_path;
}

// static
INT_PTR CALLBACK InstallerWindow::MainDialogProc(HWND dialog,
                                                 UINT message,
                                                 WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<InstallerWindow*>(lparam);
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    window->dialog_ = dialog;
    window->InitMainDialog();
    // The pages place the focus. The dialog's own choice, the first tab
    // stop, would be the terms, which it would select whole and scroll to
    // their end.
    return FALSE;
  }
  auto* window = reinterpret_cast<InstallerWindow*>(
      ::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (window)
    return window->OnMainDialogMessage(message, wparam, lparam);
  if (message == WM_ERASEBKGND) {
    ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
  }
  return FALSE;
}

// static
INT_PTR CALLBACK InstallerWindow::PageDialogProc(HWND dialog,
                                                 UINT message,
                                                 WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<InstallerWindow*>(lparam);
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    window->page_dialog_ = dialog;
    window->InitPageDialog();
    return FALSE;
  }
  auto* window = reinterpret_cast<InstallerWindow*>(
      ::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  return window ? window->OnPageDialogMessage(message, wparam, lparam) : FALSE;
}

INT_PTR InstallerWindow::OnMainDialogMessage(UINT message,
                                             WPARAM wparam,
                                             LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnMainCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->idFrom == kTermsAgreementText && header->code == EN_LINK) {
        const auto* link = reinterpret_cast<const ENLINK*>(lparam);
        if (link->msg == WM_LBUTTONUP)
          OnTermsLinkClicked(header->hwndFrom, link->chrg);
      }
      return FALSE;
    }
    case WM_CLOSE:
      ConfirmCancel();
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE)
        Win32DialogDispatcher::GetInstance()->SetCurrentDialog(dialog_);
      else
        Win32DialogDispatcher::GetInstance()->ClearCurrentDialog(dialog_);
      return FALSE;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return OnMainControlColor(message, reinterpret_cast<HDC>(wparam),
                                reinterpret_cast<HWND>(lparam));
    case WM_ERASEBKGND:
      if (!OnEraseBackground(reinterpret_cast<HDC>(wparam)))
        return FALSE;
      ::SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_WINDOWPOSCHANGED: {
      const auto* position = reinterpret_cast<const WINDOWPOS*>(lparam);
      const bool moved_or_sized = (position->flags & SWP_NOMOVE) == 0 ||
                                  (position->flags & SWP_NOSIZE) == 0;
      RenderBackground(moved_or_sized);
      return FALSE;
    }
    case WM_THEMECHANGED:
      RenderBackground(true);
      return FALSE;
  }
  return FALSE;
}

INT_PTR InstallerWindow::OnPageDialogMessage(UINT message,
                                             WPARAM wparam,
                                             LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnPageCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return OnPageControlColor(message, reinterpret_cast<HDC>(wparam),
                                reinterpret_cast<HWND>(lparam));
  }
  return FALSE;
}

void InstallerWindow::InitMainDialog() {
  LoadImages();
  CreateFonts();
  SetWindowIcons();
  ::SetWindowSubclass(GetControl(kLogoArea), &ImageControlProc, 0,
                      reinterpret_cast<DWORD_PTR>(this));
  SetControlFont(GetControl(kUninstallQuestion), bold_font_);
  if (HWND agreement = GetControl(kTermsAgreementText)) {
    const LRESULT mask = ::SendMessageW(agreement, EM_GETEVENTMASK, 0, 0);
    ::SendMessageW(agreement, EM_SETEVENTMASK, 0, mask | ENM_LINK);
    ::SetWindowSubclass(agreement, &HideCaretProc, 0, 0);
  }
  for (int heading : {kProgressHeading, kInstallFailedHeading,
                      kUninstallFailedHeading}) {
    SetControlFont(GetControl(heading), heading_font_);
  }
  if (HWND title = GetControl(kTitleText)) {
    ::SetWindowSubclass(title, &HideCaretProc, 0, 0);
    SetControlFont(title, title_font_);
  }
  if (run_immediately_)
    ShowPage(kProgressPage);
  else if (!IsUninstalling())
    LoadTermsText();
}

void InstallerWindow::CreateFonts() {
  HDC dc = ::GetDC(dialog_);
  const int pixels_per_inch = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(dialog_, dc);
  normal_font_ = MakeFont(kNormalFont, pixels_per_inch);
  bold_font_ = MakeFont(kBoldFont, pixels_per_inch);
  heading_font_ = MakeFont(kHeadingFont, pixels_per_inch);
  title_font_ = MakeFont(kTitleFont, pixels_per_inch);
}

void InstallerWindow::SetWindowIcons() {
  HINSTANCE host = ::GetModuleHandleW(nullptr);
  struct {
    WPARAM kind;
    int width_metric;
    int height_metric;
    ScopedIcon* owner;
  } const icons[] = {{ICON_BIG, SM_CXICON, SM_CYICON, &big_icon_},
                     {ICON_SMALL, SM_CXSMICON, SM_CYSMICON, &small_icon_}};
  for (const auto& icon : icons) {
    icon.owner->Reset(static_cast<HICON>(::LoadImageW(
        host, MAKEINTRESOURCEW(kWindowIcon), IMAGE_ICON,
        ::GetSystemMetrics(icon.width_metric),
        ::GetSystemMetrics(icon.height_metric), 0)));
    if (!icon.owner->Get())
      continue;
    auto replaced = reinterpret_cast<HICON>(
        ::SendMessageW(dialog_, WM_SETICON, icon.kind,
                       reinterpret_cast<LPARAM>(icon.owner->Get())));
    if (replaced && replaced != big_icon_.Get() &&
        replaced != small_icon_.Get()) {
      ::DestroyIcon(replaced);
    }
  }
}

void InstallerWindow::LoadTermsText() {
  HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kTermsText),
                                   kTextResourceType);
  HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
  const char* bytes =
      loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (!bytes)
    return;
  const std::wstring text = TermsTextFromResource(
      std::string_view(bytes, ::SizeofResource(nullptr, resource)));
  ::SetWindowTextW(GetControl(kTermsTextBox), text.c_str());
}

void InstallerWindow::InitPageDialog() {
  if (run_immediately_)
    return;
  if (base::win::GetWindowsVersion() >= base::win::kVersionWin8)
    ::ShowWindow(GetControl(kDefaultBrowserBox), SW_HIDE);
  SetControlFont(GetControl(kInvalidFolderText), bold_font_);
  HWND folder_list = GetControl(kFolderList);
  HWND change_button = GetControl(kChangeFolderButton);
  RECT folder_rect = {};
  RECT button_rect = {};
  if (folder_list && change_button &&
      ::GetWindowRect(folder_list, &folder_rect) &&
      ::GetWindowRect(change_button, &button_rect)) {
    ::SetWindowPos(change_button, nullptr, 0, 0,
                   button_rect.right - button_rect.left,
                   folder_rect.bottom - folder_rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CreateModeTooltip();
}

void InstallerWindow::CreateModeTooltip() {
  HWND mode_list = GetControl(kModeList);
  if (!mode_list)
    return;
  tooltip_ = ::CreateWindowExW(
      0, TOOLTIPS_CLASSW, nullptr,
      WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_USEVISUALSTYLE,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, page_dialog_,
      nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (!tooltip_) {
    PLOG(ERROR) << "Could not create the install mode tooltip";
    return;
  }
  std::wstring help = GetModeHelpText();
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = page_dialog_;
  tool.uId = reinterpret_cast<UINT_PTR>(mode_list);
  ::GetClientRect(mode_list, &tool.rect);
  tool.lpszText = help.data();
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 300);
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
