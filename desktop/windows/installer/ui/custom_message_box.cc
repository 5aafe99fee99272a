#include "desktop/windows/installer/ui/custom_message_box.h"

#include <commctrl.h>
#include <richedit.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/installer/ui/window_images.h"

namespace installer {
namespace {

constexpr COLORREF kMessageTextColor = 100;
constexpr COLORREF kLinkColor = 0x686868;
constexpr int kMaxStringLength = 1024;

// The host's string in the language Windows picks for the user: the box
// serves before any interface language is chosen.
std::wstring LoadHostString(int string_id) {
  wchar_t text[kMaxStringLength] = {};
  const int length = ::LoadStringW(::GetModuleHandleW(nullptr), string_id,
                                   text, kMaxStringLength);
  return std::wstring(text, length > 0 ? length : 0);
}

ScopedIcon LoadWindowIcon(int width_metric, int height_metric) {
  return ScopedIcon(static_cast<HICON>(::LoadImageW(
      ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kWindowIcon), IMAGE_ICON,
      ::GetSystemMetrics(width_metric), ::GetSystemMetrics(height_metric),
      0)));
}

}  // namespace

CustomMessageBox::CustomMessageBox() = default;

CustomMessageBox::~CustomMessageBox() {
  Close();
  callback_.Reset();
}

bool CustomMessageBox::Show(HWND owner,
                            int title_string_id,
                            const std::wstring& text,
                            int accept_string_id,
                            int cancel_string_id,
                            ResultCallback callback) {
  Close();
  LoadRichEditLibrary();
  LOG(INFO) << "Displaying custom message box";
  HWND dialog = ::CreateDialogParamW(
      ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMessageBoxDialog), owner,
      &DialogProc, reinterpret_cast<LPARAM>(this));
  if (!dialog) {
    PLOG(ERROR) << "Failed to display custom message box";
    return false;
  }
  dialog_ = dialog;
  ::SetWindowLongPtrW(dialog_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  callback_ = std::move(callback);
  owner_ = owner;
  if (owner_)
    ::EnableWindow(owner_, FALSE);
  SetUpControls(title_string_id, text, accept_string_id, cancel_string_id);
  ::ShowWindow(dialog_, SW_SHOW);
  return true;
}

void CustomMessageBox::SetUpControls(int title_string_id,
                                     const std::wstring& text,
                                     int accept_string_id,
                                     int cancel_string_id) {
  big_icon_ = LoadWindowIcon(SM_CXICON, SM_CYICON);
  small_icon_ = LoadWindowIcon(SM_CXSMICON, SM_CYSMICON);
  ::SendMessageW(dialog_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(big_icon_.Get()));
  ::SendMessageW(dialog_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(small_icon_.Get()));
  ::SetWindowTextW(dialog_, LoadHostString(title_string_id).c_str());

  if (HWND text_control = ::GetDlgItem(dialog_, kMessageText)) {
    const LRESULT mask = ::SendMessageW(text_control, EM_GETEVENTMASK, 0, 0);
    ::SendMessageW(text_control, EM_SETEVENTMASK, 0, mask | ENM_LINK);
    SetRichEditTextColor(text_control, kMessageTextColor);
    ::SetWindowSubclass(text_control, &HideCaretProc, 0, 0);
    SetRichTextWithLinks(text_control, text, kLinkColor);
  }

  HWND accept = ::GetDlgItem(dialog_, kMessageAcceptButton);
  if (accept_string_id)
    ::SetWindowTextW(accept, LoadHostString(accept_string_id).c_str());
  else
    ::ShowWindow(accept, SW_HIDE);
  ::SendMessageW(dialog_, DM_SETDEFID,
                 accept_string_id ? kMessageAcceptButton : kMessageCancelButton,
                 0);
  ::SetDlgItemTextW(dialog_, kMessageCancelButton,
                    LoadHostString(cancel_string_id).c_str());
  ::SetFocus(::GetDlgItem(dialog_, accept_string_id ? kMessageAcceptButton
                                                    : kMessageCancelButton));
}

void CustomMessageBox::Close() {
  if (!dialog_)
    return;
  LOG(INFO) << "Destroying custom message box";
  if (owner_)
    ::EnableWindow(owner_, TRUE);
  HWND dialog = std::exchange(dialog_, nullptr);
  Win32DialogDispatcher::GetInstance()->ClearCurrentDialog(dialog);
  ::SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
  ::DestroyWindow(dialog);
}

// static
INT_PTR CALLBACK CustomMessageBox::DialogProc(HWND dialog,
                                              UINT message,
                                              WPARAM wparam,
                                              LPARAM lparam) {
  auto* box = reinterpret_cast<CustomMessageBox*>(
      ::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (box)
    box->OnMessage(message, wparam, lparam);
  return FALSE;
}

void CustomMessageBox::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE)
        Win32DialogDispatcher::GetInstance()->SetCurrentDialog(dialog_);
      else
        Win32DialogDispatcher::GetInstance()->ClearCurrentDialog(dialog_);
      return;
    case WM_CLOSE:
      Answer(kClosed);
      return;
    case WM_NCDESTROY:
      // Destroyed with its owner rather than by Close.
      Win32DialogDispatcher::GetInstance()->ClearCurrentDialog(dialog_);
      dialog_ = nullptr;
      return;
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED)
        return;
      if (LOWORD(wparam) == kMessageAcceptButton)
        Answer(kAccepted);
      else if (LOWORD(wparam) == kMessageCancelButton)
        Answer(kCancelled);
      return;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->idFrom == kMessageText && header->code == EN_LINK &&
          reinterpret_cast<const ENLINK*>(lparam)->msg == WM_LBUTTONUP) {
        Answer(kLinkClicked);
      }
      return;
    }
  }
}

// The callback may close or destroy the box: nothing of it is touched after.
void CustomMessageBox::Answer(int answer) {
  const ResultCallback callback = callback_;
  if (callback)
    callback.Run(answer);
}

}  // namespace installer
