#ifndef DESKTOP_WINDOWS_INSTALLER_UI_SCOPED_GDI_OBJECT_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_SCOPED_GDI_OBJECT_H_

#include <windows.h>

#include <utility>

namespace installer {

// Owns one GDI object (bitmap, brush, font): deletes it on destruction.
// The object must not be selected into a device context by then.
template <class Handle>
class ScopedGdiObject {
 public:
  ScopedGdiObject() = default;
  explicit ScopedGdiObject(Handle object) : object_(object) {}
  ScopedGdiObject(ScopedGdiObject&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)) {}
  ScopedGdiObject& operator=(ScopedGdiObject&& other) noexcept {
    if (this != &other)
      Reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  ScopedGdiObject(const ScopedGdiObject&) = delete;
  ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
  ~ScopedGdiObject() { Reset(nullptr); }

  Handle Get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  void Reset(Handle object) {
    Handle old = std::exchange(object_, object);
    if (old && old != object)
      ::DeleteObject(old);
  }

 private:
  Handle object_ = nullptr;
};

using ScopedBitmap = ScopedGdiObject<HBITMAP>;
using ScopedBrush = ScopedGdiObject<HBRUSH>;
using ScopedFont = ScopedGdiObject<HFONT>;

// Owns an icon made by LoadImage without LR_SHARED.
class ScopedIcon {
 public:
  ScopedIcon() = default;
  explicit ScopedIcon(HICON icon) : icon_(icon) {}
  ScopedIcon(ScopedIcon&& other) noexcept
      : icon_(std::exchange(other.icon_, nullptr)) {}
  ScopedIcon& operator=(ScopedIcon&& other) noexcept {
    if (this != &other)
      Reset(std::exchange(other.icon_, nullptr));
    return *this;
  }
  ScopedIcon(const ScopedIcon&) = delete;
  ScopedIcon& operator=(const ScopedIcon&) = delete;
  ~ScopedIcon() { Reset(nullptr); }

  HICON Get() const { return icon_; }
  HICON Take() { return std::exchange(icon_, nullptr); }

  void Reset(HICON icon) {
    HICON old = std::exchange(icon_, icon);
    if (old && old != icon)
      ::DestroyIcon(old);
  }

 private:
  HICON icon_ = nullptr;
};

// Selects an object into a device context for one scope and puts the
// previous one back, so that the object can be deleted afterwards.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (previous_)
      ::SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A memory device context compatible with another one, deleted on
// destruction.
class ScopedMemoryDc {
 public:
  explicit ScopedMemoryDc(HDC compatible_with)
      : dc_(::CreateCompatibleDC(compatible_with)) {}
  ScopedMemoryDc(const ScopedMemoryDc&) = delete;
  ScopedMemoryDc& operator=(const ScopedMemoryDc&) = delete;
  ~ScopedMemoryDc() {
    if (dc_)
      ::DeleteDC(dc_);
  }

  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

// A window's device context from GetDC, released on destruction.
class ScopedWindowDc {
 public:
  explicit ScopedWindowDc(HWND window)
      : window_(window), dc_(::GetDC(window)) {}
  ScopedWindowDc(const ScopedWindowDc&) = delete;
  ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;
  ~ScopedWindowDc() {
    if (dc_)
      ::ReleaseDC(window_, dc_);
  }

  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_SCOPED_GDI_OBJECT_H_
