#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_MUTEX_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_MUTEX_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace installer {

// The name every process of the product serialises the global storage by,
// without a namespace prefix.
inline constexpr wchar_t kGlobalStorageMutexName[] = L"tauc_registry_mutex";

// The named mutex of the global storage, taken without waiting around each
// operation. Used from one thread at a time.
class GlobalStorageMutex {
 public:
  enum class Acquisition { kAcquired, kBusy, kFailed };

  explicit GlobalStorageMutex(std::wstring name);
  GlobalStorageMutex(const GlobalStorageMutex&) = delete;
  GlobalStorageMutex& operator=(const GlobalStorageMutex&) = delete;
  ~GlobalStorageMutex();

  // Creates the mutex, or opens it when its creator denies full access;
  // true once a handle is held.
  bool Open();
  // An abandoned mutex is taken (its holder ended) and logged.
  Acquisition TryAcquire();
  // False, logged, when the mutex stays held.
  bool Release();

  HANDLE handle() const { return handle_.Get(); }

 private:
  const std::wstring name_;
  base::win::ScopedHandle handle_;
};

}  // namespace installer

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_MUTEX_H_
