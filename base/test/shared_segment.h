#ifndef BASE_TEST_SHARED_SEGMENT_H_
#define BASE_TEST_SHARED_SEGMENT_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/win/scoped_handle.h"

namespace base {

// A named, page-file backed file mapping and one view of it, as two
// processes share a persistent memory segment.
class SharedSegment {
 public:
  // A new mapping of `size` zero bytes; invalid when it exists already.
  static SharedSegment Create(const std::wstring& name, uint32_t size) {
    SharedSegment segment;
    segment.mapping_ = win::ScopedHandle(::CreateFileMappingW(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str()));
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
      segment.mapping_.Close();
    segment.Map(size);
    return segment;
  }

  // The existing mapping of that name.
  static SharedSegment Open(const std::wstring& name, uint32_t size) {
    SharedSegment segment;
    segment.mapping_ = win::ScopedHandle(
        ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
    segment.Map(size);
    return segment;
  }

  bool IsValid() const { return view_ != nullptr; }
  void* data() const { return view_.get(); }

 private:
  struct Unmap {
    void operator()(void* view) const { ::UnmapViewOfFile(view); }
  };

  void Map(uint32_t size) {
    if (mapping_.IsValid()) {
      view_.reset(
          ::MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
    }
  }

  win::ScopedHandle mapping_;
  std::unique_ptr<void, Unmap> view_;
};

}  // namespace base

#endif  // BASE_TEST_SHARED_SEGMENT_H_
