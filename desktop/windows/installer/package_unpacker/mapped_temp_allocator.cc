#include "desktop/windows/installer/package_unpacker/mapped_temp_allocator.h"

#include <windows.h>

#include "7zAlloc.h"
#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

MappedTempAllocator::MappedTempAllocator(const base::FilePath& folder) {
  interface_.Alloc = &SzAlloc;
  interface_.Free = &SzFree;
  interface_.owner = this;
  if (!base::CreateTemporaryFileInDir(folder, &path_)) {
    VLOG(1) << "No temporary file for unpacking in " << folder.AsUTF8();
    return;
  }
  file_.Initialize(path_, base::File::kCreateAlways | base::File::kRead |
                              base::File::kWrite | base::File::kTemporary |
                              base::File::kDeleteOnClose);
  if (!file_.IsValid()) {
    PLOG(WARNING) << "Could not open the temporary file for unpacking";
    base::DeletePath(path_, false);
    return;
  }
  interface_.Alloc = &AllocateThunk;
  interface_.Free = &FreeThunk;
}

MappedTempAllocator::~MappedTempAllocator() {
  if (view_)
    ::UnmapViewOfFile(view_);
}

void* MappedTempAllocator::Allocate(size_t size) {
  if (size == 0)
    return nullptr;
  // A second buffer while the view is in use must not resize the file
  // under it.
  if (file_.IsValid() && !view_) {
    if (void* buffer = MapBuffer(size))
      return buffer;
  }
  return SzAlloc(nullptr, size);
}

void MappedTempAllocator::Free(void* address) {
  if (!address)
    return;
  if (address != view_) {
    SzFree(nullptr, address);
    return;
  }
  ::UnmapViewOfFile(view_);
  view_ = nullptr;
  view_size_ = 0;
  mapping_.Close();
}

bool MappedTempAllocator::Contains(const void* address) const {
  const uint8_t* byte = static_cast<const uint8_t*>(address);
  return view_ && byte >= view_ &&
         byte - view_ < static_cast<ptrdiff_t>(view_size_);
}

void* MappedTempAllocator::AllocateThunk(ISzAllocPtr allocator, size_t size) {
  return static_cast<const Interface*>(allocator)->owner->Allocate(size);
}

void MappedTempAllocator::FreeThunk(ISzAllocPtr allocator, void* address) {
  static_cast<const Interface*>(allocator)->owner->Free(address);
}

void* MappedTempAllocator::MapBuffer(size_t size) {
  if (!file_.SetLength(static_cast<int64_t>(size))) {
    PLOG(WARNING) << "Could not size the temporary file to " << size;
    return nullptr;
  }
  mapping_.Set(::CreateFileMappingW(file_.GetPlatformFile(), nullptr,
                                    PAGE_READWRITE, 0, 0, nullptr));
  if (!mapping_.IsValid()) {
    PLOG(WARNING) << "Could not map the temporary file";
    return nullptr;
  }
  void* view = ::MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, size);
  if (!view) {
    PLOG(WARNING) << "Could not map a view of " << size << " bytes";
    mapping_.Close();
    return nullptr;
  }
  view_ = static_cast<uint8_t*>(view);
  view_size_ = size;
  return view_;
}

}  // namespace installer
