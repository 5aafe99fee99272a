#include "base/threading/os_thread.h"

#include <memory>
#include <string>
#include <utility>

#include "base/logging.h"
#include "base/metrics/thread_tally.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/trace_event/activity_scope.h"
#include "base/win/process_probes.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

constexpr DWORD kThreadNamingException = 0x406D1388;

// Handed from the starting thread to the new one, which frees it.
struct ThreadParameters {
  ThreadDelegate* delegate;
  ThreadPriority priority;
};

void ApplyPriority(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::kLow:
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
      break;
    case ThreadPriority::kAboveNormal:
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
      break;
    case ThreadPriority::kTimeCritical:
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
      break;
    default:
      break;
  }
}

// A real handle to the calling thread (the pseudo-handle means "whoever
// asks"), owned and tracked; empty when it cannot be made.
win::ScopedHandle DuplicateCurrentThreadHandle() {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(),
                       GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return win::ScopedHandle();
  }
  return win::ScopedHandle(duplicate);
}

DWORD WINAPI OsThreadMain(void* parameter) {
  std::unique_ptr<ThreadParameters> parameters(
      static_cast<ThreadParameters*>(parameter));
  ApplyPriority(parameters->priority);
  const uint32_t id = GetCurrentThreadId();
  win::ScopedHandle self = DuplicateCurrentThreadHandle();
  if (self.IsValid())
    ThreadNameRegistry::GetInstance()->RegisterThread(self.Get(), id);
  ThreadDelegate* delegate = parameters->delegate;
  parameters.reset();
  delegate->ThreadMain();
  if (self.IsValid())
    ThreadNameRegistry::GetInstance()->RemoveName(self.Get(), id);
  return 0;
}

// Continues the naming exception of the calling thread, for when no
// debugger took it.
LONG CALLBACK ContinueThreadNamingException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == kThreadNamingException &&
      record->NumberParameters >= 3 &&
      static_cast<DWORD>(record->ExceptionInformation[2]) ==
          GetCurrentThreadId()) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void SetThreadDescriptionIfPresent(StringSlice name) {
  using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  // Windows 10 1607 and later only.
  HMODULE kernel32 = GetModuleHandleW(L"Kernel32.dll");
  if (!kernel32)
    return;
  auto set_description =
      reinterpret_cast<SetThreadDescriptionFunction>(reinterpret_cast<void*>(
          GetProcAddress(kernel32, "SetThreadDescription")));
  if (set_description)
    set_description(GetCurrentThread(), Utf8ToWide(name).c_str());
}

// Tells an attached debugger the thread's name; continued by this thread
// when nothing else takes it.
void RaiseThreadNamingException(const char* name) {
  // Debuggers read the arguments as this record's memory.
  struct ThreadNamingRecord {
    DWORD type;
    const char* name;
    DWORD thread_id;
    DWORD flags;
  };
  static_assert(sizeof(ThreadNamingRecord) % sizeof(ULONG_PTR) == 0);
  const ThreadNamingRecord record = {0x1000, name, GetCurrentThreadId(), 0};
  PVOID handler =
      AddVectoredExceptionHandler(0, &ContinueThreadNamingException);
  RaiseException(kThreadNamingException, 0,
                 sizeof(record) / sizeof(ULONG_PTR),
                 reinterpret_cast<const ULONG_PTR*>(&record));
  if (handler)
    RemoveVectoredExceptionHandler(handler);
}

}  // namespace

bool CreateOsThread(uint64_t stack_size, ThreadDelegate* delegate,
                    win::ScopedHandle* handle, ThreadPriority priority) {
  auto parameters =
      std::make_unique<ThreadParameters>(ThreadParameters{delegate, priority});
  const DWORD flags = stack_size != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;
  HANDLE thread = CreateThread(nullptr, stack_size, &OsThreadMain,
                               parameters.get(), flags, nullptr);
  if (!thread) {
    PLOG(ERROR) << "CreateThread failed";
    return false;
  }
  parameters.release();  // The new thread frees it.
  win::ScopedHandle owned(thread);
  if (handle)
    *handle = std::move(owned);
  return true;
}

bool CreateOsThreadNonJoinable(uint64_t stack_size, ThreadDelegate* delegate,
                               ThreadPriority priority) {
  return CreateOsThread(stack_size, delegate, nullptr, priority);
}

void JoinOsThread(win::ScopedHandle& handle) {
  {
    ThreadJoinActivityScope activity(__builtin_return_address(0),
                                     handle.Get());
    const DWORD result = WaitForSingleObject(handle.Get(), INFINITE);
    CHECK(result == WAIT_OBJECT_0)
        << "Waiting for a thread failed: " << result << ", "
        << GetLastError();
  }
  handle.Close();
}

void SleepUntilElapsed(TimeDelta delta) {
  const TickTime end = TickTime::Now() + delta;
  for (;;) {
    const TimeDelta remaining =
        delta.is_max() ? TimeDelta::Max() : end - TickTime::Now();
    if (remaining <= TimeDelta())
      return;
    Sleep(internal::SleepMilliseconds(remaining));
  }
}

void SetCurrentThreadName(StringSlice name) {
  ThreadNameRegistry::GetInstance()->SetName(GetCurrentThreadId(), name);
  // The broker's event thread must not get a tally of its own.
  if (!name.Equals("BrokerEvent"))
    InitThreadTally(name);
  SetThreadDescriptionIfPresent(name);
  if (IsDebuggerPresent() || win::IsImageInstrumented())
    RaiseThreadNamingException(name.AsString().c_str());
}

namespace internal {

DWORD SleepMilliseconds(TimeDelta remaining) {
  if (remaining.is_max())
    return INFINITE;
  if (remaining <= TimeDelta())
    return 0;
  // Rounded up, or a sub-millisecond rest would busy-spin on Sleep(0).
  const int64_t milliseconds = remaining.InMillisecondsRoundedUp();
  // INFINITE is reserved for the maximum; the loop sleeps again after a cap.
  return milliseconds >= INFINITE ? INFINITE - 1
                                  : static_cast<DWORD>(milliseconds);
}

}  // namespace internal

}  // namespace base
