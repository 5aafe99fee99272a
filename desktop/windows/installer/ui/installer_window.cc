#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <string>
#include <string_view>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

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

}  // namespace installer
