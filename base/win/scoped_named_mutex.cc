#include "base/win/scoped_named_mutex.h"

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"

namespace base::win {

ScopedNamedMutex::ScopedNamedMutex(const std::wstring& name, Options options)
    : name_(name) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.bInheritHandle = options.inheritable ? TRUE : FALSE;
  mutex_.Set(::CreateMutexW(&attributes, FALSE, name_.c_str()));
  if (!mutex_.IsValid() && options.open_if_denied &&
      ::GetLastError() == ERROR_ACCESS_DENIED) {
    mutex_.Set(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE,
                            options.inheritable ? TRUE : FALSE,
                            name_.c_str()));
  }
  if (!mutex_.IsValid())
    PLOG(WARNING) << "Could not open the mutex " << base::WideToUtf8(name_);
}

ScopedNamedMutex::~ScopedNamedMutex() {
  Release();
}

bool ScopedNamedMutex::Acquire(DWORD wait_ms) {
  if (held_)
    return true;
  if (!mutex_.IsValid())
    return false;
  const DWORD wait = ::WaitForSingleObject(mutex_.Get(), wait_ms);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  abandoned_ = wait == WAIT_ABANDONED;
  if (wait == WAIT_FAILED)
    PLOG(WARNING) << "Waiting for the mutex " << base::WideToUtf8(name_)
                  << " failed";
  return held_;
}

void ScopedNamedMutex::Release() {
  if (!held_)
    return;
  held_ = false;
  if (!::ReleaseMutex(mutex_.Get()))
    PLOG(ERROR) << "Could not release the mutex " << base::WideToUtf8(name_);
}

void ScopedNamedMutex::CloseWithoutRelease() {
  held_ = false;
  mutex_.Close();
}

}  // namespace base::win
