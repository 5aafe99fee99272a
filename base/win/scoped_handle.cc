#include "base/win/scoped_handle.h"

#include "base/location.h"
#include "base/win/handle_verifier.h"

namespace base::win {

namespace {

const void* ReturnAddress(void* address) {
  return __builtin_extract_return_addr(address);
}

// Handle work must never disturb the error a caller is about to read.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(GetLastError()) {}
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
  ~LastErrorKeeper() { SetLastError(error_); }

 private:
  const DWORD error_;
};

}  // namespace

__attribute__((noinline)) ScopedHandle::ScopedHandle(HANDLE handle) {
  LastErrorKeeper keep_error;
  if (!IsHandleValid(handle))
    return;
  handle_ = handle;
  HandleVerifier::StartTrackingGlobal(handle_, this,
                                      ReturnAddress(__builtin_return_address(0)),
                                      GetProgramCounter());
}

ScopedHandle::ScopedHandle(ScopedHandle&& other) noexcept {
  Set(other.Take());
}

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) noexcept {
  if (this != &other)
    Set(other.Take());
  return *this;
}

ScopedHandle::~ScopedHandle() {
  Close();
}

__attribute__((noinline)) void ScopedHandle::Set(HANDLE handle) {
  if (handle == handle_)
    return;
  LastErrorKeeper keep_error;
  Close();
  if (!IsHandleValid(handle))
    return;
  handle_ = handle;
  HandleVerifier::StartTrackingGlobal(handle_, this,
                                      ReturnAddress(__builtin_return_address(0)),
                                      GetProgramCounter());
}

__attribute__((noinline)) HANDLE ScopedHandle::Take() {
  HANDLE handle = handle_;
  handle_ = nullptr;
  if (IsHandleValid(handle)) {
    HandleVerifier::StopTrackingHandle(handle, this,
                                       ReturnAddress(__builtin_return_address(0)),
                                       GetProgramCounter());
  }
  return handle;
}

__attribute__((noinline)) void ScopedHandle::Close() {
  if (!IsValid())
    return;
  HandleVerifier::StopTrackingHandle(handle_, this,
                                     ReturnAddress(__builtin_return_address(0)),
                                     GetProgramCounter());
  CloseHandleVerified(handle_);
  handle_ = nullptr;
}

}  // namespace base::win
