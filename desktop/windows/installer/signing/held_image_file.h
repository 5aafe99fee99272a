#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_IMAGE_FILE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_IMAGE_FILE_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "desktop/windows/installer/signing/held_file_registry.h"

namespace installer {

// A program or library file opened for reading and mapped whole. Others may
// only read it while it is held: it cannot be written, renamed or deleted,
// so a check made on its bytes holds for whoever runs or loads it before it
// is released. Built from system calls alone: the host executable, which
// links nothing of the library, holds its library with it too.
class HeldImageFile {
 public:
  HeldImageFile();
  HeldImageFile(HeldImageFile&&) noexcept;
  HeldImageFile& operator=(HeldImageFile&&) noexcept;
  ~HeldImageFile();

  // The Windows error when the file cannot be opened or mapped (an empty
  // file cannot be mapped), else 0.
  [[nodiscard]] DWORD Open(const wchar_t* path);

  HANDLE handle() const { return file_.get(); }
  std::span<const uint8_t> bytes() const { return {view_.get(), size_}; }
  // Which file is held, counted among this process's held files
  // (HeldFileRegistry) while this object holds it; none when it cannot be
  // told, and then no verdict on it is kept.
  const std::optional<HeldFileIdentity>& identity() const {
    return identity_;
  }

 private:
  struct HandleCloser {
    void operator()(HANDLE handle) const;
  };
  struct ViewUnmapper {
    void operator()(const uint8_t* view) const;
  };
  // Not base::win::ScopedHandle: the host links no part of base.
  using ScopedFileHandle = std::unique_ptr<void, HandleCloser>;

  ScopedFileHandle file_;
  ScopedFileHandle mapping_;
  // Lets the file go, its registration first.
  void Release();

  std::unique_ptr<const uint8_t, ViewUnmapper> view_;
  size_t size_ = 0;
  std::optional<HeldFileIdentity> identity_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_IMAGE_FILE_H_
