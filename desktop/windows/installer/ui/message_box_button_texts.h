#ifndef DESKTOP_WINDOWS_INSTALLER_UI_MESSAGE_BOX_BUTTON_TEXTS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_MESSAGE_BOX_BUTTON_TEXTS_H_

#include <windows.h>

#include <string>

namespace installer {

// While it lives, a system message box that the calling thread shows gets
// its Yes, No and OK buttons labelled in the interface language (strings
// 37003, 37004 and 37001) instead of the system's language. One per thread
// at a time.
class ScopedMessageBoxButtonTexts {
 public:
  ScopedMessageBoxButtonTexts();
  ScopedMessageBoxButtonTexts(const ScopedMessageBoxButtonTexts&) = delete;
  ScopedMessageBoxButtonTexts& operator=(const ScopedMessageBoxButtonTexts&) =
      delete;
  ~ScopedMessageBoxButtonTexts();

 private:
  static LRESULT CALLBACK OnCbtEvent(int code, WPARAM wparam, LPARAM lparam);
  void LabelButtons(HWND box) const;

  HHOOK hook_ = nullptr;
  ScopedMessageBoxButtonTexts* previous_;
  const std::wstring yes_;
  const std::wstring no_;
  const std::wstring ok_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_MESSAGE_BOX_BUTTON_TEXTS_H_
