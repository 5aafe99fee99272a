#include "desktop/windows/crash_reporter/reporter_crash_handler.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cwchar>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/rand_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/crash_reporter/reporter_switches.h"
#include "desktop/windows/crash_reporter/runtime_crash_handlers.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"

namespace installer {

namespace {

constexpr DWORD kModulePathSize = 260;
constexpr DWORD kRelaunchWaitMs = 20000;
constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;
// What abort() and std::terminate are reported as.
constexpr DWORD kFatalAppExitCode = 0x40000015;

// Read by the relaunched reporter out of this process: it must not move.
CrashExceptionInfo g_exception_info = {};
std::atomic<int32_t> g_first_crash{0};
std::atomic<bool> g_prepared{false};
std::atomic<bool> g_installed{false};
std::atomic<DWORD> g_relaunch_wait_ms{kRelaunchWaitMs};

// Made before any crash, so that handling one allocates nothing.
struct Relaunch {
  std::wstring command_line;
  base::win::ScopedHandle exception_event;
};

Relaunch& GetRelaunch() {
  static Relaunch relaunch;
  return relaunch;
}

// Only the first crashing thread is handled; any other waits here for the
// process to end.
void ParkUnlessFirstCrash() {
  int32_t no_crash_yet = 0;
  if (!g_first_crash.compare_exchange_strong(no_crash_yet, 1)) {
    for (;;)
      ::Sleep(INFINITE);
  }
}

// The event the relaunched reporter sets, made new under a name drawn at
// random: one that another process could foresee (this process's id) and
// make first, signalled, would end the wait for the relaunched reporter
// before it read this one. Its number, or nullopt when none could be made.
std::optional<uint32_t> MakeExceptionEvent(base::win::ScopedHandle* event) {
  constexpr int kNameTries = 4;
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const auto event_id = static_cast<uint32_t>(base::RandomIntInRange(
        std::numeric_limits<int32_t>::min(),
        std::numeric_limits<int32_t>::max()));
    const HANDLE made = ::CreateEventW(
        nullptr, TRUE, FALSE,
        GetCrashReporterExceptionEventName(event_id).c_str());
    const DWORD error = ::GetLastError();
    base::win::ScopedHandle candidate(made);
    if (candidate.IsValid() && error != ERROR_ALREADY_EXISTS) {
      *event = std::move(candidate);
      return event_id;
    }
  }
  return std::nullopt;
}

// Starts the reporter that captures this process and waits until it says
// it has what it needs, or for 20 s.
void RelaunchAndWait() {
  Relaunch& relaunch = GetRelaunch();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(nullptr, relaunch.command_line.data(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return;
  }
  base::win::ScopedHandle(started.hProcess).Close();
  base::win::ScopedHandle(started.hThread).Close();
  if (relaunch.exception_event.IsValid())
    ::WaitForSingleObject(relaunch.exception_event.Get(), g_relaunch_wait_ms);
  else
    ::Sleep(g_relaunch_wait_ms);
}

void CopyText(const wchar_t* text, wchar_t* field) {
  field[0] = L'\0';
  if (text && *text) {
    std::wcsncpy(field, text, AssertionRecord::kTextUnits - 1);
    field[AssertionRecord::kTextUnits - 1] = L'\0';
  }
}

// A fatal error the runtime reports instead of raising: recorded as an
// exception of `code` at the reporting place, then handled as one.
[[noreturn]] void HandleRuntimeReport(DWORD code,
                                      uint32_t kind,
                                      const wchar_t* expression,
                                      const wchar_t* function,
                                      const wchar_t* file,
                                      unsigned int line) {
  ParkUnlessFirstCrash();
  if (!g_prepared)
    base::TerminateCurrentProcess(code);
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  g_exception_info.thread_id = ::GetCurrentThreadId();
  g_exception_info.exception_pointers = reinterpret_cast<uint64_t>(&pointers);
  AssertionRecord& assertion = g_exception_info.assertion;
  CopyText(expression, assertion.expression);
  CopyText(function, assertion.function);
  CopyText(file, assertion.file);
  assertion.line = line;
  assertion.type = kind;
  RelaunchAndWait();
  base::TerminateCurrentProcess(code);
}

void HandleTerminate() {
  HandleRuntimeReport(kFatalAppExitCode, AssertionRecord::kNone, nullptr,
                      nullptr, nullptr, 0);
}

void __cdecl HandleAbortSignal(int signal) {
  HandleRuntimeReport(kFatalAppExitCode, AssertionRecord::kNone, nullptr,
                      nullptr, nullptr, 0);
}

}  // namespace

void InstallCrashReporterExceptionFilter() {
  bool installed = false;
  if (!g_installed.compare_exchange_strong(installed, true))
    return;
  RuntimeCrashHandlers handlers;
  handlers.exception_filter = &ReporterExceptionFilter;
  handlers.invalid_parameter = &ReporterInvalidParameterHandler;
  handlers.pure_call = &ReporterPureCallHandler;
  // g++ ends pure virtual calls, uncaught throws and abort() here, past
  // every exception filter.
  handlers.terminate = &HandleTerminate;
  handlers.abort_signal = &HandleAbortSignal;
  InstallRuntimeCrashHandlers(handlers, RuntimeCrashHandlers::kAll);
}

void PrepareCrashReporterRelaunch(bool with_minidump_switch) {
  if (g_prepared)
    return;
  // The relaunch would start the program's file by name at crash time, when
  // it can no longer be checked, and the file cannot be held all along: an
  // uninstallation sets its running installer aside. A user may have put
  // another program under that name in a folder of theirs, so a reporter
  // that may run elevated reports its own crash no more.
  if (MayRunElevated()) {
    VLOG(1) << "A reporter that may run elevated does not relaunch itself";
    return;
  }
  wchar_t module[kModulePathSize];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, kModulePathSize);
  if (length == 0 || length >= kModulePathSize)
    return;
  const DWORD pid = ::GetCurrentProcessId();
  Relaunch& relaunch = GetRelaunch();
  const std::optional<uint32_t> event_id =
      MakeExceptionEvent(&relaunch.exception_event);
  if (!event_id)
    return;
  base::CommandLine command_line(base::FilePath(std::wstring(module, length)));
  command_line.AppendSwitchASCII(
      switches::kCrashReporterExceptionInfo,
      base::Uint64ToString(reinterpret_cast<uint64_t>(&g_exception_info)));
  command_line.AppendSwitchASCII(switches::kCrashReporterParentId,
                                 base::Uint64ToString(pid));
  command_line.AppendSwitchASCII(kCrashReporterExceptionEventSwitch,
                                 base::Uint64ToString(*event_id));
  if (with_minidump_switch)
    command_line.AppendSwitch(kCrashReporterMinidumpSwitch);
  relaunch.command_line = command_line.GetCommandLineString();
  g_prepared = true;
}

LONG WINAPI ReporterExceptionFilter(EXCEPTION_POINTERS* pointers) {
  ParkUnlessFirstCrash();
  if (g_prepared) {
    g_exception_info.thread_id = ::GetCurrentThreadId();
    g_exception_info.exception_pointers =
        reinterpret_cast<uint64_t>(pointers);
    g_exception_info.assertion.type = AssertionRecord::kNone;
    RelaunchAndWait();
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

void __cdecl ReporterInvalidParameterHandler(const wchar_t* expression,
                                             const wchar_t* function,
                                             const wchar_t* file,
                                             unsigned int line,
                                             uintptr_t reserved) {
  HandleRuntimeReport(kInvalidParameterCode, AssertionRecord::kInvalidParameter,
                      expression, function, file, line);
}

void __cdecl ReporterPureCallHandler() {
  HandleRuntimeReport(kPureCallCode, AssertionRecord::kPureVirtualCall,
                      nullptr, nullptr, nullptr, 0);
}

namespace internal {

void SetRelaunchWaitForTesting(uint32_t wait_ms) {
  g_relaunch_wait_ms = wait_ms;
}

}  // namespace internal

}  // namespace installer
