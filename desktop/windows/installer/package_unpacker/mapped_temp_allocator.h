#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_MAPPED_TEMP_ALLOCATOR_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_MAPPED_TEMP_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>

#include "7zTypes.h"
#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// An allocator for the 7z reader that puts one large buffer at a time (the
// output of a whole solid block, as large as the unpacked package) into a
// mapped temporary file instead of the heap. The file is marked temporary
// and deleted when closed. Without the file, or while its one view is in
// use, allocations come from the heap. One thread at a time.
class MappedTempAllocator {
 public:
  // Makes the temporary file in `folder`; when that fails every allocation
  // is the heap's.
  explicit MappedTempAllocator(const base::FilePath& folder);
  MappedTempAllocator(const MappedTempAllocator&) = delete;
  MappedTempAllocator& operator=(const MappedTempAllocator&) = delete;
  ~MappedTempAllocator();

  // The allocator as the 7z reader takes it.
  ISzAllocPtr allocator() const { return &interface_; }

  // Null for 0 bytes, and when neither the file nor the heap has room.
  void* Allocate(size_t size);
  // Takes back a block of either kind; null does nothing.
  void Free(void* address);
  // Whether `address` lies in the mapped view.
  bool Contains(const void* address) const;

 private:
  struct Interface : ISzAlloc {
    MappedTempAllocator* owner;
  };

  static void* AllocateThunk(ISzAllocPtr allocator, size_t size);
  static void FreeThunk(ISzAllocPtr allocator, void* address);

  void* MapBuffer(size_t size);

  Interface interface_;
  base::FilePath path_;
  base::File file_;
  base::win::ScopedHandle mapping_;
  uint8_t* view_ = nullptr;
  size_t view_size_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_MAPPED_TEMP_ALLOCATOR_H_
