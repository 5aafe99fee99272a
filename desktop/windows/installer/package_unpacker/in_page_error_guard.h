#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_IN_PAGE_ERROR_GUARD_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_IN_PAGE_ERROR_GUARD_H_

#include <windows.h>

#include <cstdint>

namespace installer {

class MappedTempAllocator;

// Runs a call that writes into memory mapped from a file and turns an
// EXCEPTION_IN_PAGE_ERROR on that memory (its file could not be read or
// written, as when the disk is full) into a result instead of a crash.
// Every other exception passes on. The call is abandoned where it faulted:
// it must own nothing that needs cleaning up on the way out (the 7z
// reader's C code at most leaks its temporary buffers).
class InPageErrorGuard {
 public:
  // Guards the view of `allocator`, as it is when a fault happens.
  explicit InPageErrorGuard(const MappedTempAllocator* allocator);
  InPageErrorGuard(const InPageErrorGuard&) = delete;
  InPageErrorGuard& operator=(const InPageErrorGuard&) = delete;
  ~InPageErrorGuard();

  // Runs function(context) on this thread. False when an in-page error in
  // the guarded view ended it; `status()` then holds the NTSTATUS.
  bool Run(void (*function)(void* context), void* context);

  int32_t status() const { return status_; }

 private:
  static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers);

  const MappedTempAllocator* allocator_;
  void* handler_ = nullptr;
  // Filled by __builtin_setjmp: frame pointer, resume address, stack pointer.
  void* resume_point_[5] = {};
  int32_t status_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_IN_PAGE_ERROR_GUARD_H_
