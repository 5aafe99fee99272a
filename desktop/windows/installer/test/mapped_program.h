#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_MAPPED_PROGRAM_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_MAPPED_PROGRAM_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// A program file mapped as the loader maps one to run it, never run: the
// running build the checks of a running image are judged against.
class MappedProgram {
 public:
  explicit MappedProgram(const base::FilePath& path)
      : file_(::CreateFileW(path.value().c_str(), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr)),
        mapping_(::CreateFileMappingW(file_.Get(), nullptr,
                                      PAGE_READONLY | SEC_IMAGE, 0, 0,
                                      nullptr)),
        view_(static_cast<const uint8_t*>(
            ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 0))) {}
  MappedProgram(const MappedProgram&) = delete;
  MappedProgram& operator=(const MappedProgram&) = delete;
  ~MappedProgram() {
    if (view_)
      ::UnmapViewOfFile(view_);
  }
  const uint8_t* image() const { return view_; }

 private:
  base::win::ScopedHandle file_;
  base::win::ScopedHandle mapping_;
  const uint8_t* view_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_MAPPED_PROGRAM_H_
