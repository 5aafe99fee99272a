// An installer process as far as crash reporting goes: it starts crash
// reporting as every installer role does, then crashes as told, on a
// thread of its own whose id it prints first. Started with
// "crash-reporter-parent-id" (by its own crash start) it is the crash
// reporter instead.
//
//   --crash=KIND        none, access-violation, breakpoint, abort, throw,
//                       terminate, invalid-parameter, pure-call,
//                       guarded-fault, invalid-handle, two-threads
//   --reporter-exits    as the reporter: end at once, serving nobody

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "base/command_line.h"
#include "base/debug/exception_hook.h"
#include "desktop/windows/crash_reporter/crash_handler.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/entry_switches.h"

namespace {

constexpr char kCrashSwitch[] = "crash";
constexpr char kReporterExitsSwitch[] = "reporter-exits";
constexpr DWORD kInvalidHandleCode = 0xC0000008;

void AccessViolation() {
  *static_cast<volatile int*>(nullptr) = 1;
}

void Breakpoint() {
  ::DebugBreak();
}

void Abort() {
  std::abort();
}

void Throw() {
  throw std::runtime_error("nobody catches this");
}

// Where g++ sends a pure virtual call.
void Terminate() {
  std::terminate();
}

// Wine's runtime takes no invalid-parameter or pure-call handler, so the
// handler is run as the runtime would run it.
void InvalidParameter() {
  installer::CrashHandler::HandleInvalidParameter(
      L"buffer != nullptr", L"CopyText", L"copy.cc", 42, 0);
}

void PureCall() {
  installer::CrashHandler::HandlePureCall();
}

void FaultInGuardedCall() {
  base::CallWithExceptionGuard([](void*) { AccessViolation(); }, nullptr);
}

void InvalidHandle() {
  ::RaiseException(kInvalidHandleCode, 0, 0, nullptr);
}

struct Crash {
  const char* name;
  void (*crash)();
};
constexpr Crash kCrashes[] = {
    {"access-violation", &AccessViolation},
    {"breakpoint", &Breakpoint},
    {"abort", &Abort},
    {"throw", &Throw},
    {"terminate", &Terminate},
    {"invalid-parameter", &InvalidParameter},
    {"pure-call", &PureCall},
    {"guarded-fault", &FaultInGuardedCall},
    {"invalid-handle", &InvalidHandle},
};

// Two crashing threads start together: each says it is ready, and both go
// once both are.
HANDLE g_go = nullptr;
HANDLE g_ready = nullptr;
LONG g_waiting_threads = 0;

DWORD WINAPI CrashingThread(void* crash) {
  std::printf("thread %lu\n", ::GetCurrentThreadId());
  if (g_go) {
    if (::InterlockedDecrement(&g_waiting_threads) == 0)
      ::SetEvent(g_ready);
    ::WaitForSingleObject(g_go, INFINITE);
  }
  reinterpret_cast<void (*)()>(crash)();
  return 0;
}

HANDLE StartCrashingThread(void (*crash)()) {
  return ::CreateThread(nullptr, 0, &CrashingThread,
                        reinterpret_cast<void*>(crash), 0, nullptr);
}

// Two threads that fault at the same moment.
void CrashTwoThreadsAtOnce() {
  g_go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_waiting_threads = 2;
  StartCrashingThread(&AccessViolation);
  StartCrashingThread(&AccessViolation);
  ::WaitForSingleObject(g_ready, INFINITE);
  ::SetEvent(g_go);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(installer::switches::kCrashReporterParentId)) {
    if (command_line.HasSwitch(kReporterExitsSwitch))
      return 0;
    return installer::CrashReporterMain() == 0 ? 0 : 1;
  }

  // A busy machine may start the reporter, or write the dump, slower than
  // the installer is willing to wait.
  installer::internal::SetCrashReportingWaitsForTesting(INFINITE, INFINITE);
  installer::DisableUserModeExceptionFilterBit();
  if (installer::StartCrashReporter())
    installer::ConnectCrashHandler();
  installer::SetInstallerCrashKeys();
  std::printf("reporter %u\n", installer::GetCrashReporterPid());

  const std::string kind = command_line.GetSwitchValueASCII(kCrashSwitch);
  if (kind == "two-threads") {
    CrashTwoThreadsAtOnce();
    ::Sleep(INFINITE);
  }
  for (const Crash& crash : kCrashes) {
    if (kind == crash.name) {
      ::WaitForSingleObject(StartCrashingThread(crash.crash), INFINITE);
      return 3;
    }
  }
  return 0;
}
