#ifndef BASE_DEBUG_EXCEPTION_HOOK_H_
#define BASE_DEBUG_EXCEPTION_HOOK_H_

struct _EXCEPTION_POINTERS;

namespace base {

// Crash reporting's filter for exceptions raised inside guarded calls (window
// procedures): returns EXCEPTION_EXECUTE_HANDLER, EXCEPTION_CONTINUE_SEARCH or
// EXCEPTION_CONTINUE_EXECUTION. Same shape as an unhandled-exception filter.
using ExceptionHook = long (*)(_EXCEPTION_POINTERS* info);

// Installs the process-wide hook (null removes it); returns the previous one.
ExceptionHook SetExceptionHook(ExceptionHook hook);

// Runs `function(context)` inside a structured exception guard whose filter
// is the hook. Without a hook, or when the hook continues the search, an
// exception passes on to the process's other handlers. Returns false when
// the hook handled an exception: the call was then abandoned at the fault.
bool CallWithExceptionGuard(void (*function)(void* context), void* context);

}  // namespace base

#endif  // BASE_DEBUG_EXCEPTION_HOOK_H_
