#include "desktop/common/autoupdate/updatechecker/global_storage_mutex.h"

#include <utility>

#include "base/logging.h"

namespace installer {

namespace {

// Waiting alone is not enough: releasing needs the modify right, and a
// mutex taken through a handle without it stays held on Windows.
constexpr DWORD kOpenAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

}  // namespace

GlobalStorageMutex::GlobalStorageMutex(std::wstring name)
    : name_(std::move(name)) {}

GlobalStorageMutex::~GlobalStorageMutex() = default;

bool GlobalStorageMutex::Open() {
  if (handle_.IsValid())
    return true;
  handle_.Set(::CreateMutexW(nullptr, FALSE, name_.c_str()));
  if (!handle_.IsValid() && ::GetLastError() == ERROR_ACCESS_DENIED)
    handle_.Set(::OpenMutexW(kOpenAccess, FALSE, name_.c_str()));
  return handle_.IsValid();
}

GlobalStorageMutex::Acquisition GlobalStorageMutex::TryAcquire() {
  switch (::WaitForSingleObject(handle_.Get(), 0)) {
    case WAIT_OBJECT_0:
      return Acquisition::kAcquired;
    case WAIT_ABANDONED:
      // Ours now, but its holder ended in the middle of an operation, which
      // may have left the stored values incomplete.
      LOG(WARNING) << "[AU] GS: The access mutex was abandoned by its holder";
      return Acquisition::kAcquired;
    case WAIT_TIMEOUT:
      return Acquisition::kBusy;
    default:
      PLOG(ERROR) << "[AU] GS: Waiting for the access mutex failed";
      return Acquisition::kFailed;
  }
}

bool GlobalStorageMutex::Release() {
  if (::ReleaseMutex(handle_.Get()))
    return true;
  PLOG(ERROR) << "[AU] GS: Releasing the access mutex failed";
  return false;
}

}  // namespace installer
