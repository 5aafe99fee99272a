#include "desktop/windows/crash_reporter/crash_reporting.h"

#include <windows.h>

namespace installer {

namespace {

// Bit 0 of the user-mode exception policy: exceptions in kernel callbacks
// are swallowed while it is set.
constexpr DWORD kExceptionSwallowingFlag = 0x1;

using GetPolicyFunction = BOOL(WINAPI*)(LPDWORD flags);
using SetPolicyFunction = BOOL(WINAPI*)(DWORD flags);

}  // namespace

void InstallCrashReporterExceptionFilter() {}

void HandleCrashReporterCrash() {}

void CrashReporterMain() {}

bool StartCrashReporter() {
  return false;
}

void ConnectCrashHandler() {}

void SetInstallerCrashKeys() {}

uint32_t GetCrashReporterPid() {
  return 0;
}

void DisableUserModeExceptionFilterBit() {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return;
  // Exported only by some Windows versions, so looked up at run time.
  auto get_policy = reinterpret_cast<GetPolicyFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(kernel32, "GetProcessUserModeExceptionPolicy")));
  auto set_policy = reinterpret_cast<SetPolicyFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(kernel32, "SetProcessUserModeExceptionPolicy")));
  DWORD flags = 0;
  if (get_policy && set_policy && get_policy(&flags))
    set_policy(flags & ~kExceptionSwallowingFlag);
}

}  // namespace installer
