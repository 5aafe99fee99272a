#include "desktop/windows/installer/package_unpacker/in_page_error_guard.h"

#include "base/logging.h"
#include "desktop/windows/installer/package_unpacker/mapped_temp_allocator.h"

namespace installer {
namespace {

// The guard whose call is running on this thread, if any: the exception
// handler is process-wide, the fault belongs to one thread.
thread_local InPageErrorGuard* t_running_guard = nullptr;

// EXCEPTION_IN_PAGE_ERROR carries the access kind, the address and the
// NTSTATUS of the failed paging I/O.
constexpr DWORD kInPageErrorParameters = 3;

}  // namespace

InPageErrorGuard::InPageErrorGuard(const MappedTempAllocator* allocator)
    : allocator_(allocator) {
  // First in line, so that no other handler sees a fault that is ours.
  handler_ = ::AddVectoredExceptionHandler(1, &OnException);
  if (!handler_)
    PLOG(WARNING) << "No handler for in-page errors";
}

InPageErrorGuard::~InPageErrorGuard() {
  if (handler_)
    ::RemoveVectoredExceptionHandler(handler_);
}

__attribute__((noinline)) bool InPageErrorGuard::Run(
    void (*function)(void* context),
    void* context) {
  InPageErrorGuard* const outer = t_running_guard;
  if (__builtin_setjmp(resume_point_) != 0) {
    t_running_guard = outer;
    return false;
  }
  t_running_guard = this;
  function(context);
  t_running_guard = outer;
  return true;
}

LONG CALLBACK InPageErrorGuard::OnException(EXCEPTION_POINTERS* pointers) {
  InPageErrorGuard* const guard = t_running_guard;
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (!guard || record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR ||
      record->NumberParameters < kInPageErrorParameters) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const void* address =
      reinterpret_cast<const void*>(record->ExceptionInformation[1]);
  if (!guard->allocator_->Contains(address))
    return EXCEPTION_CONTINUE_SEARCH;
  guard->status_ = static_cast<int32_t>(record->ExceptionInformation[2]);
  // Back into Run on this thread's own stack: the faulting call's frames
  // lie below Run's and are dropped.
  __builtin_longjmp(guard->resume_point_, 1);
}

}  // namespace installer
