#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_LOCKED_FILE_VIEW_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_LOCKED_FILE_VIEW_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>

#include "base/files/file.h"
#include "base/win/scoped_handle.h"

namespace base {
class FilePath;
}

namespace installer {

// A whole file opened once and mapped read-only. Others may only read it
// while the view is held, so every check made through the view and the
// handle sees the same bytes: the file cannot be written, replaced or
// deleted between them. Held to be moved, the file is renamed through the
// same handle, so what lands at the target is what was checked.
class LockedFileView {
 public:
  enum class Access {
    kRead,
    // Also the right to rename the file (`MoveTo`); an empty file is held
    // then too, with an empty view.
    kReadAndMove,
  };

  LockedFileView();
  LockedFileView(const LockedFileView&) = delete;
  LockedFileView& operator=(const LockedFileView&) = delete;
  ~LockedFileView();

  // False (with the Windows error logged) when the file cannot be opened or
  // mapped; an empty file cannot be mapped.
  [[nodiscard]] bool Open(const base::FilePath& path,
                          Access access = Access::kRead);
  // Renames the held file to `target` on the same volume, never over a file
  // that is there, and keeps holding it under its new name without the
  // view. Only for a file opened with `Access::kReadAndMove`; false with the
  // Windows error logged.
  [[nodiscard]] bool MoveTo(const base::FilePath& target);
  // Lets the file go.
  void Close();

  HANDLE file_handle() const { return file_.GetPlatformFile(); }
  std::span<const uint8_t> bytes() const { return {view_.get(), size_}; }

 private:
  struct ViewUnmapper {
    void operator()(const uint8_t* view) const;
  };

  base::File file_;
  base::win::ScopedHandle mapping_;
  std::unique_ptr<const uint8_t, ViewUnmapper> view_;
  size_t size_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_LOCKED_FILE_VIEW_H_
