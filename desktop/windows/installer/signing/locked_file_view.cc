#include "desktop/windows/installer/signing/locked_file_view.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
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

bool LockedFileView::Open(const base::FilePath& path, Access access) {
  Close();
  // Sharing read access only: writers, renames and deletes are refused
  // while the view is held. The right to delete is also the right to
  // rename, which only this handle then has.
  file_.Initialize(path, base::File::kOpen | base::File::kRead |
                             base::File::kExclusiveWrite |
                             (access == Access::kReadAndMove
                                  ? base::File::kCanDeleteOnClose
                                  : 0));
  if (!file_.IsValid()) {
    LOG(ERROR) << "Cannot open " << path.value().c_str() << " for verification: "
               << static_cast<int>(file_.error());
    return false;
  }
  const int64_t size = file_.GetLength();
  // Windows cannot map an empty file; held to be moved it is held anyway.
  if (size == 0 && access == Access::kReadAndMove)
    return true;
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

void LockedFileView::Close() {
  view_.reset();
  mapping_.Close();
  size_ = 0;
  file_.Close();
}

bool LockedFileView::MoveTo(const base::FilePath& target) {
  // A mapped file may be renamed on Windows, but the view is not needed any
  // more: the handle alone keeps the file held.
  view_.reset();
  mapping_.Close();
  size_ = 0;
  if (!base::RenameHeldFile(file_.GetPlatformFile(), target)) {
    PLOG(ERROR) << "Cannot move the held file to " << target.value().c_str();
    return false;
  }
  return true;
}

}  // namespace installer
