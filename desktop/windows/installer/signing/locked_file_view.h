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
// deleted between them.
class LockedFileView {
 public:
  LockedFileView();
  LockedFileView(const LockedFileView&) = delete;
  LockedFileView& operator=(const LockedFileView&) = delete;
  ~LockedFileView();

  // False (with the Windows error logged) when the file cannot be opened or
  // mapped; an empty file cannot be mapped.
  bool Open(const base::FilePath& path);

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
