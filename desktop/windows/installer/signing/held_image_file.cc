#include "desktop/windows/installer/signing/held_image_file.h"

#include <utility>

namespace installer {

namespace {

// Offsets and sizes in an image are 32-bit; a program is far smaller.
constexpr LONGLONG kMaxImageSize = 0x7FFFFFFF;

}  // namespace

void HeldImageFile::HandleCloser::operator()(HANDLE handle) const {
  ::CloseHandle(handle);
}

void HeldImageFile::ViewUnmapper::operator()(const uint8_t* view) const {
  ::UnmapViewOfFile(view);
}

HeldImageFile::HeldImageFile() = default;

HeldImageFile::HeldImageFile(HeldImageFile&& other) noexcept {
  *this = std::move(other);
}

HeldImageFile& HeldImageFile::operator=(HeldImageFile&& other) noexcept {
  if (this == &other)
    return *this;
  Release();
  file_ = std::move(other.file_);
  mapping_ = std::move(other.mapping_);
  view_ = std::move(other.view_);
  size_ = std::exchange(other.size_, 0);
  identity_ = std::exchange(other.identity_, std::nullopt);
  return *this;
}

HeldImageFile::~HeldImageFile() {
  Release();
}

DWORD HeldImageFile::Open(const wchar_t* path) {
  Release();
  // Sharing reading only: no writer, rename or delete while it is held.
  const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file_.reset();
    return ::GetLastError();
  }
  file_.reset(file);
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size))
    return ::GetLastError();
  if (size.QuadPart < 1 || size.QuadPart > kMaxImageSize)
    return ERROR_BAD_EXE_FORMAT;
  mapping_.reset(
      ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_)
    return ::GetLastError();
  view_.reset(static_cast<const uint8_t*>(
      ::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0)));
  if (!view_)
    return ::GetLastError();
  size_ = static_cast<size_t>(size.QuadPart);
  identity_ = HeldFileRegistry::IdentityOf(file);
  if (identity_)
    HeldFileRegistry::Get().AddHolder(*identity_);
  return 0;
}

void HeldImageFile::Release() {
  if (identity_)
    HeldFileRegistry::Get().RemoveHolder(*identity_);
  identity_.reset();
  view_.reset();
  mapping_.reset();
  file_.reset();
  size_ = 0;
}

}  // namespace installer
