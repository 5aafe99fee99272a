#include "base/debug/exception_hook.h"

#include <windows.h>

#include <atomic>

namespace base {
namespace {

std::atomic<ExceptionHook> g_exception_hook{nullptr};

}  // namespace
}  // namespace base

// The guard's filter, named from the scope table below. The filter runs
// while the exception is being dispatched, so it takes no lock.
extern "C" __attribute__((used)) LONG TarvoExceptionGuardFilter(
    EXCEPTION_POINTERS* info, void* establisher_frame) {
  const base::ExceptionHook hook =
      base::g_exception_hook.load(std::memory_order_acquire);
  return hook ? hook(info) : EXCEPTION_CONTINUE_SEARCH;
}

// g++ has no __try/__except, and a vectored handler would see exceptions
// before the guarded code's own handlers. So the guard is a small function
// whose unwind data names the system's scope-table handler: the call site
// (with the return address, hence the nop) lies in the scope, and a handled
// exception unwinds to the label that returns 0.
extern "C" int TarvoCallInExceptionScope(void (*function)(void*),
                                         void* context);
asm(R"(
    .text
    .globl TarvoCallInExceptionScope
    .def TarvoCallInExceptionScope; .scl 2; .type 32; .endef
    .seh_proc TarvoCallInExceptionScope
TarvoCallInExceptionScope:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
.Lguard_begin:
    callq *%rax
    nop
.Lguard_end:
    movl $1, %eax
    jmp .Lguard_leave
.Lguard_handled:
    xorl %eax, %eax
.Lguard_leave:
    addq $40, %rsp
    retq
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1
    .rva .Lguard_begin, .Lguard_end, TarvoExceptionGuardFilter, .Lguard_handled
    .text
    .seh_endproc
)");

namespace base {

ExceptionHook SetExceptionHook(ExceptionHook hook) {
  return g_exception_hook.exchange(hook, std::memory_order_acq_rel);
}

bool CallWithExceptionGuard(void (*function)(void* context), void* context) {
  return TarvoCallInExceptionScope(function, context) != 0;
}

}  // namespace base
