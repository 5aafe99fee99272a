#include "desktop/windows/installer/ui/message_box_button_texts.h"

#include "base/logging.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

// The hook procedure has no context of its own: the thread's live instance.
thread_local ScopedMessageBoxButtonTexts* g_current = nullptr;

constexpr wchar_t kDialogClass[] = L"#32770";

bool IsDialogWindow(HWND window) {
  wchar_t class_name[16] = {};
  return ::GetClassNameW(window, class_name, ARRAYSIZE(class_name)) > 0 &&
         std::wstring(class_name) == kDialogClass;
}

void SetButtonText(HWND box, int button_id, const std::wstring& text) {
  HWND button = ::GetDlgItem(box, button_id);
  if (button && !text.empty())
    ::SetWindowTextW(button, text.c_str());
}

}  // namespace

ScopedMessageBoxButtonTexts::ScopedMessageBoxButtonTexts()
    : previous_(g_current),
      yes_(GetLocalizedString(kStringYes)),
      no_(GetLocalizedString(kStringNo)),
      ok_(GetLocalizedString(kStringOk)) {
  g_current = this;
  hook_ = ::SetWindowsHookExW(WH_CBT, &OnCbtEvent, nullptr,
                              ::GetCurrentThreadId());
  if (!hook_)
    PLOG(ERROR) << "Could not label the message box buttons";
}

ScopedMessageBoxButtonTexts::~ScopedMessageBoxButtonTexts() {
  if (hook_)
    ::UnhookWindowsHookEx(hook_);
  g_current = previous_;
}

// static
LRESULT CALLBACK ScopedMessageBoxButtonTexts::OnCbtEvent(int code,
                                                         WPARAM wparam,
                                                         LPARAM lparam) {
  if (code == HCBT_ACTIVATE && g_current)
    g_current->LabelButtons(reinterpret_cast<HWND>(wparam));
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

void ScopedMessageBoxButtonTexts::LabelButtons(HWND box) const {
  if (!IsDialogWindow(box))
    return;
  SetButtonText(box, IDYES, yes_);
  SetButtonText(box, IDNO, no_);
  SetButtonText(box, IDOK, ok_);
}

}  // namespace installer
