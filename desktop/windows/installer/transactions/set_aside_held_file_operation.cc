#include "desktop/windows/installer/transactions/set_aside_held_file_operation.h"

#include <windows.h>

#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/product/install_folder_names.h"

namespace installer {

namespace {

constexpr DWORD kSetAsideAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
// A file in use may be renamed, and keeps its readers and writers.
constexpr DWORD kAnySharing =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring AsideName(const std::wstring& name, int64_t seconds, int attempt) {
  std::wstring aside = name + L"." + std::to_wstring(seconds);
  if (attempt > 0)
    aside += L"_" + std::to_wstring(attempt);
  return aside + kSetAsideExtension;
}

base::FilePath PathIn(const base::HeldFolder& folder, const std::wstring& name) {
  return folder.path().Append(name);
}

// A read-only file cannot be deleted through its handle.
bool DeleteThroughHandle(HANDLE file) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

}  // namespace

SetAsideHeldFileOperation::SetAsideHeldFileOperation(
    base::HeldFolder::Ref folder,
    std::wstring name)
    : folder_(std::move(folder)), name_(std::move(name)) {}

SetAsideHeldFileOperation::~SetAsideHeldFileOperation() {
  if (rolled_back_ || !aside_index_)
    return;
  const base::win::ScopedHandle aside = ReopenAside(kSetAsideAccess);
  if (!aside.IsValid() || !DeleteThroughHandle(aside.Get())) {
    PLOG(WARNING) << "Left the set-aside file "
                  << PathIn(*folder_, aside_name_).AsUTF8();
  }
}

bool SetAsideHeldFileOperation::Do(Transaction* sub_operations) {
  const base::FilePath path = PathIn(*folder_, name_);
  const base::win::ScopedHandle file =
      folder_->OpenPlainFile(name_, kSetAsideAccess, kAnySharing);
  if (!file.IsValid()) {
    set_error(::GetLastError());
    PLOG(ERROR) << "Refusing to set aside " << path.AsUTF8()
                << ": no plain file of its own with one name";
    return false;
  }
  const std::optional<uint64_t> index = base::ReadFileIndex(file.Get());
  if (!index) {
    set_error(::GetLastError());
    return false;
  }
  const int64_t seconds = base::Time::Now().ToTimeT();
  for (int attempt = 0; attempt < kSetAsideAttempts; ++attempt) {
    const std::wstring aside = AsideName(name_, seconds, attempt);
    if (!RunJournal::Get()->RecordSetAside(path, PathIn(*folder_, aside))) {
      const DWORD error = ::GetLastError();
      set_error(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
      return false;
    }
    if (folder_->MoveInto(file.Get(), aside)) {
      aside_name_ = aside;
      aside_index_ = index;
      VLOG(1) << "Set aside " << path.AsUTF8() << " as "
              << base::WideToUtf8(aside);
      return true;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  set_error(::GetLastError());
  PLOG(ERROR) << "Failed setting aside " << path.AsUTF8();
  return false;
}

void SetAsideHeldFileOperation::Rollback() {
  rolled_back_ = true;
  if (aside_index_) {
    const base::win::ScopedHandle aside = ReopenAside(kSetAsideAccess);
    if (!aside.IsValid() || !folder_->MoveInto(aside.Get(), name_)) {
      PLOG(ERROR) << "Cannot put back " << PathIn(*folder_, name_).AsUTF8();
      // Only the journal tells a later run where it belongs.
      RunJournal::Get()->KeepForRecovery();
    }
  }
  folder_.reset();
}

base::win::ScopedHandle SetAsideHeldFileOperation::ReopenAside(
    DWORD access) const {
  base::win::ScopedHandle aside =
      folder_->OpenPlainFile(aside_name_, access, kAnySharing);
  if (aside.IsValid() && base::ReadFileIndex(aside.Get()) != aside_index_) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return base::win::ScopedHandle();
  }
  return aside;
}

}  // namespace installer
