#include "base/files/memory_mapped_file.h"

#include "base/files/file_path.h"

namespace base {

namespace {

// A view length is kept in an int elsewhere, so 2 GiB and more is refused.
constexpr int64_t kMaxMappedLength = 0x7FFFFFFF;

}  // namespace

MappedFile::MappedFile() = default;

MappedFile::~MappedFile() {
  CloseHandles();
}

bool MappedFile::Initialize(const FilePath& path, Access access) {
  if (data_)
    return false;
  switch (access) {
    case kReadOnly:
      file_.Initialize(path, File::kOpen | File::kRead);
      break;
    case kReadWrite:
      file_.Initialize(path, File::kOpen | File::kRead | File::kWrite);
      break;
    default:
      return false;
  }
  if (!file_.IsValid())
    return false;
  if (!MapFileToMemory(access)) {
    CloseHandles();
    return false;
  }
  return true;
}

bool MappedFile::MapFileToMemory(Access access) {
  // An empty file has nothing to map; Windows refuses it with
  // ERROR_FILE_INVALID, and so does the size check below.
  mapping_.Set(::CreateFileMappingW(
      file_.GetPlatformFile(), nullptr,
      access == kReadOnly ? PAGE_READONLY : PAGE_READWRITE, 0, 0, nullptr));
  if (!mapping_.IsValid())
    return false;
  int64_t size = file_.GetLength();
  if (size < 1 || size > kMaxMappedLength)
    return false;
  void* view = ::MapViewOfFile(
      mapping_.Get(), access == kReadOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0,
      0, 0);
  if (!view)
    return false;
  data_ = static_cast<uint8_t*>(view);
  length_ = size;
  return true;
}

void MappedFile::CloseHandles() {
  if (data_)
    ::UnmapViewOfFile(data_);
  mapping_.Close();
  file_.Close();
  data_ = nullptr;
  length_ = 0;
}

}  // namespace base
