// The installer window's painting: a background image under the whole main
// dialog, drawn once into a bitmap that every erase copies, the logo with
// its error badge, and texts and themed check boxes that sit on the image.

#include <windows.h>

#include <commctrl.h>
#include <uxtheme.h>

#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/window_images.h"

namespace installer {
namespace {

// Controls whose themed drawing paints a background of its own: they get
// their piece of the window's background as a brush.
constexpr int kThemedControls[] = {kDeleteUserDataBox};
constexpr size_t kControlBackgroundCapacity = 8;

// Where the badge's lower right corner stands out beyond the logo's.
constexpr int kBadgeOverhang = 10;

constexpr COLORREF kTextColor = RGB(0, 0, 0);
constexpr COLORREF kWarningTextColor = RGB(255, 0, 0);

SIZE GetBitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  ::GetObjectW(bitmap, sizeof(info), &info);
  return {info.bmWidth, info.bmHeight};
}

void BlendImage(HDC target, HBITMAP image, int x, int y) {
  const SIZE size = GetBitmapSize(image);
  ScopedMemoryDc source(target);
  ScopedSelectObject select(source.Get(), image);
  AlphaBlendBitmap(target, x, y, size.cx, size.cy, source.Get(), 0, 0,
                   size.cx, size.cy);
}

HBRUSH TransparentTextBrush(HDC dc, COLORREF text_color) {
  ::SetTextColor(dc, text_color);
  ::SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

}  // namespace

void InstallerWindow::LoadImages() {
  logo_ = LoadImageResource(kLogoImage, kPngResourceType);
  error_badge_ = LoadImageResource(kErrorBadgeImage, kPngResourceType);
  background_ = LoadImageResource(kBackgroundImage, kJpegResourceType);
}

bool InstallerWindow::RenderBackground(bool force) {
  if (rendered_background_ && !force)
    return false;
  RECT client = {};
  ::GetClientRect(dialog_, &client);
  if (client.right <= 0 || client.bottom <= 0)
    return false;
  ScopedWindowDc window_dc(dialog_);
  ScopedBitmap rendered(
      ::CreateCompatibleBitmap(window_dc.Get(), client.right, client.bottom));
  if (!rendered)
    return false;
  {
    ScopedMemoryDc target(window_dc.Get());
    ScopedSelectObject select(target.Get(), rendered.Get());
    ::FillRect(target.Get(), &client, ::GetSysColorBrush(COLOR_BTNFACE));
    if (background_) {
      const SIZE size = GetBitmapSize(background_.Get());
      ScopedMemoryDc source(window_dc.Get());
      ScopedSelectObject select_source(source.Get(), background_.Get());
      AlphaBlendBitmap(target.Get(), 0, 0, client.right, client.bottom,
                       source.Get(), 0, 0, size.cx, size.cy);
    }
  }
  rendered_background_ = std::move(rendered);
  if (::IsAppThemed())
    RenderControlBackgrounds(window_dc.Get());
  return true;
}

void InstallerWindow::RenderControlBackgrounds(HDC window_dc) {
  control_backgrounds_.clear();
  control_backgrounds_.reserve(kControlBackgroundCapacity);
  ScopedMemoryDc source(window_dc);
  ScopedSelectObject select_source(source.Get(), rendered_background_.Get());
  for (int id : kThemedControls) {
    HWND control = GetControl(id);
    RECT rect = {};
    if (!control || !::GetWindowRect(control, &rect))
      continue;
    ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    ControlBackground background;
    background.bitmap.Reset(::CreateCompatibleBitmap(window_dc, width, height));
    if (!background.bitmap)
      continue;
    {
      ScopedMemoryDc piece(window_dc);
      ScopedSelectObject select_piece(piece.Get(), background.bitmap.Get());
      ::BitBlt(piece.Get(), 0, 0, width, height, source.Get(), rect.left,
               rect.top, SRCCOPY);
    }
    background.brush.Reset(::CreatePatternBrush(background.bitmap.Get()));
    control_backgrounds_[control] = std::move(background);
  }
}

bool InstallerWindow::OnEraseBackground(HDC dc) {
  // The options page lies on a white dialog.
  if (current_page_ == kOptionsPage)
    return false;
  if (!rendered_background_)
    RenderBackground(false);
  if (!rendered_background_)
    return false;
  const SIZE size = GetBitmapSize(rendered_background_.Get());
  ScopedMemoryDc source(dc);
  ScopedSelectObject select(source.Get(), rendered_background_.Get());
  ::BitBlt(dc, 0, 0, size.cx, size.cy, source.Get(), 0, 0, SRCCOPY);
  return true;
}

INT_PTR InstallerWindow::OnMainControlColor(UINT message,
                                            HDC dc,
                                            HWND control) {
  if (message != WM_CTLCOLORSTATIC)
    return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
  const int id = ::GetDlgCtrlID(control);
  if (id == kTermsTextBox) {
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_WINDOW));
  }
  HBRUSH brush = TransparentTextBrush(
      dc, id == kRedText ? kWarningTextColor : kTextColor);
  const auto background = control_backgrounds_.find(control);
  if (background != control_backgrounds_.end())
    brush = background->second.brush.Get();
  return reinterpret_cast<INT_PTR>(brush);
}

INT_PTR InstallerWindow::OnPageControlColor(UINT message,
                                            HDC dc,
                                            HWND control) {
  const int id = ::GetDlgCtrlID(control);
  const bool option_box = id == kDefaultBrowserBox || id == kImportDataBox ||
                          id == kShareUsageBox;
  if (message != WM_CTLCOLORSTATIC || option_box)
    return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
  return reinterpret_cast<INT_PTR>(TransparentTextBrush(
      dc, id == kInvalidFolderText ? kWarningTextColor : kTextColor));
}

void InstallerWindow::PaintLogo(HWND control, HDC dc) {
  if (!logo_)
    return;
  RECT client = {};
  ::GetClientRect(control, &client);
  const SIZE logo = GetBitmapSize(logo_.Get());
  const int x = client.right / 2 - logo.cx / 2;
  const int y = client.bottom / 2 - logo.cy / 2;
  BlendImage(dc, logo_.Get(), x, y);
  if (!error_page_shown_ || !error_badge_)
    return;
  const SIZE badge = GetBitmapSize(error_badge_.Get());
  BlendImage(dc, error_badge_.Get(), x + logo.cx - badge.cx + kBadgeOverhang,
             y + logo.cy - badge.cy + kBadgeOverhang);
}

// static
LRESULT CALLBACK InstallerWindow::ImageControlProc(HWND control,
                                                   UINT message,
                                                   WPARAM wparam,
                                                   LPARAM lparam,
                                                   UINT_PTR subclass_id,
                                                   DWORD_PTR reference_data) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint = {};
      HDC dc = ::BeginPaint(control, &paint);
      reinterpret_cast<InstallerWindow*>(reference_data)->PaintLogo(control,
                                                                    dc);
      ::EndPaint(control, &paint);
      return 1;
    }
    // Drawing into a given device context (PrintWindow and the like).
    case WM_PRINTCLIENT:
      reinterpret_cast<InstallerWindow*>(reference_data)->PaintLogo(
          control, reinterpret_cast<HDC>(wparam));
      return 0;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(control, &ImageControlProc, subclass_id);
      break;
  }
  return ::DefSubclassProc(control, message, wparam, lparam);
}

}  // namespace installer
