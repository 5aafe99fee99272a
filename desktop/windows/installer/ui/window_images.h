#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WINDOW_IMAGES_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WINDOW_IMAGES_H_

#include <windows.h>

#include <objidl.h>

#include "base/win/com_ptr.h"
#include "desktop/windows/installer/ui/scoped_gdi_object.h"

namespace installer {

// The installer window's images come from the host executable (never from
// this library): PNG and JPEG resources decoded into 32-bit bitmaps that
// keep their per-pixel alpha, composed with AlphaBlend.

// Resource types of the images.
inline constexpr wchar_t kPngResourceType[] = L"PNG";
inline constexpr wchar_t kJpegResourceType[] = L"JPG";

// The host's resource `id` of `type` decoded; null when it is missing or
// cannot be decoded. Transparent pixels keep alpha 0.
ScopedBitmap LoadImageResource(int id, const wchar_t* type);

// A stream over a copy of the host's resource; null when the resource is
// missing or the copy cannot be made.
base::win::ComPtr<IStream> CreateStreamFromResource(int id,
                                                    const wchar_t* type);

// Composes the source rectangle, stretched, over the destination rectangle
// by the source's per-pixel alpha.
void AlphaBlendBitmap(HDC destination,
                      int x,
                      int y,
                      int width,
                      int height,
                      HDC source,
                      int source_x,
                      int source_y,
                      int source_width,
                      int source_height);

// What a control shows through: its piece of the window's background, and a
// brush that paints it.
struct ControlBackground {
  ScopedBitmap bitmap;
  ScopedBrush brush;
};

// Subclass procedure of read-only rich edit texts: a focused text shows no
// caret.
LRESULT CALLBACK HideCaretProc(HWND window,
                               UINT message,
                               WPARAM wparam,
                               LPARAM lparam,
                               UINT_PTR subclass_id,
                               DWORD_PTR reference_data);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WINDOW_IMAGES_H_
