#include "desktop/windows/installer/ui/window_images.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <cstring>
#include <memory>
#include <utility>

#include "base/logging.h"

namespace installer {
namespace {

// GDI+ for the length of one decoding.
class ScopedGdiplus {
 public:
  ScopedGdiplus() {
    Gdiplus::GdiplusStartupInput input;
    ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  ScopedGdiplus(const ScopedGdiplus&) = delete;
  ScopedGdiplus& operator=(const ScopedGdiplus&) = delete;
  ~ScopedGdiplus() {
    if (ok_)
      Gdiplus::GdiplusShutdown(token_);
  }

  bool ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

// A global memory block until a stream takes it over.
class ScopedGlobalBlock {
 public:
  explicit ScopedGlobalBlock(size_t size)
      : block_(::GlobalAlloc(GMEM_MOVEABLE, size)) {}
  ScopedGlobalBlock(const ScopedGlobalBlock&) = delete;
  ScopedGlobalBlock& operator=(const ScopedGlobalBlock&) = delete;
  ~ScopedGlobalBlock() {
    if (block_)
      ::GlobalFree(block_);
  }

  HGLOBAL Get() const { return block_; }
  HGLOBAL Take() { return std::exchange(block_, nullptr); }

 private:
  HGLOBAL block_;
};

}  // namespace

ScopedBitmap LoadImageResource(int id, const wchar_t* type) {
  ScopedGdiplus gdiplus;
  if (!gdiplus.ok())
    return ScopedBitmap();
  base::win::ComPtr<IStream> stream = CreateStreamFromResource(id, type);
  if (!stream)
    return ScopedBitmap();
  std::unique_ptr<Gdiplus::Bitmap> image(
      Gdiplus::Bitmap::FromStream(stream.Get()));
  if (!image || image->GetLastStatus() != Gdiplus::Ok)
    return ScopedBitmap();
  HBITMAP bitmap = nullptr;
  // A transparent background colour keeps the alpha of transparent pixels.
  if (image->GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), &bitmap) != Gdiplus::Ok)
    return ScopedBitmap();
  return ScopedBitmap(bitmap);
}

base::win::ComPtr<IStream> CreateStreamFromResource(int id,
                                                    const wchar_t* type) {
  HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  if (!resource)
    return {};
  const DWORD size = ::SizeofResource(nullptr, resource);
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes || size == 0)
    return {};
  ScopedGlobalBlock block(size);
  void* copy = block.Get() ? ::GlobalLock(block.Get()) : nullptr;
  if (!copy)
    return {};
  std::memcpy(copy, bytes, size);
  ::GlobalUnlock(block.Get());
  base::win::ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(block.Get(), TRUE, stream.Receive())))
    return {};
  block.Take();
  return stream;
}

void AlphaBlendBitmap(HDC destination,
                      int x,
                      int y,
                      int width,
                      int height,
                      HDC source,
                      int source_x,
                      int source_y,
                      int source_width,
                      int source_height) {
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ::AlphaBlend(destination, x, y, width, height, source, source_x, source_y,
               source_width, source_height, blend);
}

LRESULT CALLBACK HideCaretProc(HWND window,
                               UINT message,
                               WPARAM wparam,
                               LPARAM lparam,
                               UINT_PTR subclass_id,
                               DWORD_PTR reference_data) {
  switch (message) {
    case WM_SETFOCUS:
      ::HideCaret(window);
      return 1;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(window, &HideCaretProc, subclass_id);
      break;
  }
  return ::DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace installer
