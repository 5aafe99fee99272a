#include "desktop/windows/installer/signing/locked_file_view.h"

#include "base/files/file_path.h"
#include "base/logging.h"

namespace installer {

namespace {

// Offsets and sizes elsewhere are 32-bit; a signed image is far smaller.
constexpr int64_t kMaxViewSize = 0x7FFFFFFF;

}  // namespace

void LockedFileView::ViewUnmapper::operator()(const uint8_t* view) const {
  ::UnmapViewOfFile(view);
}

LockedFileView::LockedFileView() = default;
LockedFileView::~LockedFileView() = default;

bool LockedFileView::Open(const base::FilePath& path) {
  view_.reset();
  mapping_.Close();
  size_ = 0;
  // Sharing read access only: writers, renames and deletes are refused
  // while the view is held.
  file_.Initialize(path, base::File::kOpen | base::File::kRead |
                             base::File::kExclusiveWrite);
  if (!file_.IsValid()) {
    LOG(ERROR) << "Cannot open " << path.value().c_str() << " for verification: "
               << static_cast<int>(file_.error());
    return false;
  }
  const int64_t size = file_.GetLength();
  if (size < 1 || size > kMaxViewSize) {
    LOG(ERROR) << "Cannot map " << path.value().c_str() << " of size " << size;
    return false;
  }
  mapping_.Set(::CreateFileMappingW(file_.GetPlatformFile(), nullptr,
                                    PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_.IsValid()) {
    PLOG(ERROR) << "CreateFileMapping " << path.value().c_str();
    return false;
  }
  view_.reset(static_cast<const uint8_t*>(
      ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 0)));
  if (!view_) {
    PLOG(ERROR) << "MapViewOfFile " << path.value().c_str();
    return false;
  }
  size_ = static_cast<size_t>(size);
  return true;
}

}  // namespace installer
