// An installer process as far as crash reporting goes: it starts crash
// reporting as every installer role does, then crashes as told, on a
// thread of its own whose id it prints first. Started with
// "crash-reporter-parent-id" (by its own crash start) it runs the
// installer's entry, `RunInstaller`, as installer.exe does: it is the crash
// reporter then.
//
//   --crash=KIND        none, access-violation, breakpoint, abort, throw,
//                       terminate, invalid-parameter, pure-call,
//                       guarded-fault, invalid-handle, two-threads
//   --threads=N         first starts N idle threads
//   --crash-child=KIND  starts crash reporting, then this program as a
//                       child installer process handed the reporter as
//                       the runner hands it (once started, when it may not
//                       serve yet), which crashes with KIND; prints
//                       "child CODE" when it has
//                       ended, and ends, leaving a process of its own that
//                       prints "reporter ended CODE" once the reporter has
//                       ended too
//   --reporter-crashes[=KIND]
//                       the reporter crashes once it serves, with an access
//                       violation, or as the runtime's invalid-parameter or
//                       pure-call report (KIND), not before this process
//                       holds it; this process waits for it, printing
//                       "reporter ended CODE", and for the reporter it
//                       relaunched when that still runs ("relaunched ended
//                       CODE")
//   --reporter-exits    as the reporter: end at once, serving nobody
//   --reporter-late     this process gives up on its reporter at once; the
//                       reporter starts only then, says "reporter speaks"
//                       on its standard output and error, and runs; this
//                       process ends once the reporter has
//   --at-once           crashes without printing its reporter, for which
//                       it would wait: its reporter, started a moment
//                       before, does not serve yet
//
// With the environment variable TARVO_TEST_HKCU set, every process of the
// run has HKEY_CURRENT_USER under that key of the real one.

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "base/command_line.h"
#include "base/debug/exception_hook.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_handler.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/crash_reporter/reporter_crash_handler.h"
#include "desktop/windows/installer/entry/installer_main.h"
#include "desktop/windows/installer/product/role_switches.h"

namespace {

constexpr char kCrashSwitch[] = "crash";
constexpr char kThreadsSwitch[] = "threads";
constexpr char kCrashChildSwitch[] = "crash-child";
constexpr char kReporterCrashesSwitch[] = "reporter-crashes";
constexpr char kReporterExitsSwitch[] = "reporter-exits";
constexpr char kWatchSwitch[] = "watch-process";
constexpr char kAtOnceSwitch[] = "at-once";
constexpr char kReporterLateSwitch[] = "reporter-late";
constexpr wchar_t kRegistryRootVariable[] = L"TARVO_TEST_HKCU";
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

DWORD WINAPI IdleThread(void*) {
  ::Sleep(INFINITE);
  return 0;
}

void StartIdleThreads(const std::string& count_text) {
  uint64_t count = 0;
  base::StringToUint64(count_text, &count);
  for (uint64_t i = 0; i < count; ++i)
    base::win::ScopedHandle(::CreateThread(nullptr, 0, &IdleThread, nullptr, 0, nullptr));
}

// Keeps the run off the real HKEY_CURRENT_USER; the key is the test's to
// delete.
void OverrideCurrentUserKey() {
  wchar_t root[MAX_PATH];
  const DWORD length =
      ::GetEnvironmentVariableW(kRegistryRootVariable, root, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return;
  base::win::RegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, root, KEY_ALL_ACCESS) == ERROR_SUCCESS)
    ::RegOverridePredefKey(HKEY_CURRENT_USER, key.Handle());
}

// Starts a program with this process's standard output and error, and
// `inherited` (when given) handed down.
base::win::ScopedHandle StartProcess(const std::wstring& arguments,
                                     HANDLE inherited) {
  wchar_t program[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command =
      L"\"" + std::wstring(program, length) + L"\" " + arguments;
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  if (inherited)
    ::SetHandleInformation(inherited, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, nullptr, &startup, &started)) {
    return base::win::ScopedHandle();
  }
  base::win::ScopedHandle thread(started.hThread);
  return base::win::ScopedHandle(started.hProcess);
}

DWORD WaitForExitCode(HANDLE process) {
  DWORD code = 0;
  ::WaitForSingleObject(process, INFINITE);
  ::GetExitCodeProcess(process, &code);
  return code;
}

int WatchProcess(const std::string& handle_value) {
  uint64_t value = 0;
  if (!base::StringToUint64(handle_value, &value))
    return 1;
  const base::win::ScopedHandle process(reinterpret_cast<HANDLE>(value));
  std::printf("reporter ended %lx\n", WaitForExitCode(process.Get()));
  return 0;
}

// Wine gives the id of an ended process out again: a process that only
// names the crashed reporter's id as its parent may be one that an earlier
// owner of the id started, e.g. the prefix's services. Held open by the
// caller, the crashed reporter keeps its id, so a process that started after
// it and names it as parent is its own.
bool StartedNoEarlierThan(HANDLE process, const FILETIME& start) {
  FILETIME created, unused1, unused2, unused3;
  return ::GetProcessTimes(process, &created, &unused1, &unused2, &unused3) &&
         ::CompareFileTime(&created, &start) >= 0;
}

// The reporter that `crashed` (held open) started; invalid when it has
// ended.
base::win::ScopedHandle OpenRelaunchedReporter(HANDLE crashed) {
  FILETIME crashed_start, unused1, unused2, unused3;
  if (!::GetProcessTimes(crashed, &crashed_start, &unused1, &unused2,
                         &unused3)) {
    return base::win::ScopedHandle();
  }
  const DWORD crashed_pid = ::GetProcessId(crashed);
  const base::win::ScopedHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!snapshot.IsValid() || !::Process32FirstW(snapshot.Get(), &entry))
    return base::win::ScopedHandle();
  do {
    if (entry.th32ParentProcessID != crashed_pid)
      continue;
    base::win::ScopedHandle child(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                      entry.th32ProcessID));
    if (child.IsValid() && StartedNoEarlierThan(child.Get(), crashed_start))
      return child;
  } while (::Process32NextW(snapshot.Get(), &entry));
  return base::win::ScopedHandle();
}

base::win::ScopedHandle OpenReporter() {
  return base::win::ScopedHandle(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                    installer::GetCrashReporterPid()));
}

int RunCrashingChild(const std::string& kind) {
  const base::win::ScopedHandle child = StartProcess(
      L"--crash=" + std::wstring(kind.begin(), kind.end()) +
          L" --crash-reporter-pid=" +
          std::to_wstring(installer::CrashReporterPidForChild()),
      nullptr);
  // The reporter outlives this process: it is watched from another one.
  const base::win::ScopedHandle reporter = OpenReporter();
  std::printf("child %lx\n", WaitForExitCode(child.Get()));
  StartProcess(L"--watch-process=" +
                   std::to_wstring(reinterpret_cast<uint64_t>(reporter.Get())),
               reporter.Get());
  return 0;
}

int WaitForCrashedReporter(HANDLE reporter_opened) {
  const base::win::ScopedHandle reporter = OpenReporter();
  // Only now may the reporter crash: until this process holds it, its id
  // could name another process once it has ended.
  ::SetEvent(reporter_opened);
  std::printf("reporter ended %lx\n", WaitForExitCode(reporter.Get()));
  const base::win::ScopedHandle relaunched =
      OpenRelaunchedReporter(reporter.Get());
  if (relaunched.IsValid())
    std::printf("relaunched ended %lx\n", WaitForExitCode(relaunched.Get()));
  return 0;
}

// Wine's runtime takes no invalid-parameter or pure-call handler: the
// reporter's are run as the runtime would run them.
void ReporterInvalidParameter() {
  installer::ReporterInvalidParameterHandler(L"size <= capacity", L"Append",
                                             L"buffer.cc", 7, 0);
}

void ReporterPureCall() {
  installer::ReporterPureCallHandler();
}

// Set by the installer process once it holds the reporter it waits for.
std::wstring GetReporterOpenedEventName(uint32_t installer_pid) {
  return L"TarvoCrashChildReporterOpened-" + std::to_wstring(installer_pid);
}

// Set by the installer process once it has given up on its reporter, and
// by the reporter once it is done.
std::wstring GetGaveUpEventName(uint32_t installer_pid) {
  return L"TarvoCrashChildGaveUp-" + std::to_wstring(installer_pid);
}
std::wstring GetLateReporterDoneEventName(uint32_t installer_pid) {
  return L"TarvoCrashChildLateReporterDone-" + std::to_wstring(installer_pid);
}

uint32_t ParentOfReporter(const base::CommandLine& command_line) {
  uint64_t parent = 0;
  base::StringToUint64(command_line.GetSwitchValueASCII(
                           installer::switches::kCrashReporterParentId),
                       &parent);
  return static_cast<uint32_t>(parent);
}

// The reporter of --reporter-late.
int RunLateReporter(const base::CommandLine& command_line) {
  const uint32_t parent = ParentOfReporter(command_line);
  const base::win::ScopedHandle gave_up(::OpenEventW(
      SYNCHRONIZE, FALSE, GetGaveUpEventName(parent).c_str()));
  ::WaitForSingleObject(gave_up.Get(), INFINITE);
  std::printf("reporter speaks\n");
  std::fprintf(stderr, "reporter speaks\n");
  const int result = installer::RunInstaller();
  const base::win::ScopedHandle done(::OpenEventW(
      EVENT_MODIFY_STATE, FALSE, GetLateReporterDoneEventName(parent).c_str()));
  ::SetEvent(done.Get());
  return result;
}

struct ReporterCrash {
  HANDLE init_event;
  HANDLE opened_event;
  void (*crash)();
};

DWORD WINAPI CrashOnceServing(void* context) {
  const auto* crash = static_cast<const ReporterCrash*>(context);
  const HANDLE events[] = {crash->init_event, crash->opened_event};
  ::WaitForMultipleObjects(2, events, TRUE, INFINITE);
  crash->crash();
  return 0;
}

int RunReporter(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(kReporterExitsSwitch))
    return 0;
  if (command_line.HasSwitch(kReporterLateSwitch))
    return RunLateReporter(command_line);
  if (command_line.HasSwitch(kReporterCrashesSwitch)) {
    // Opened now: the installer process closes it once it has been set.
    uint64_t parent = 0;
    base::StringToUint64(command_line.GetSwitchValueASCII(
                             installer::switches::kCrashReporterParentId),
                         &parent);
    static ReporterCrash crash = {
        ::OpenEventW(SYNCHRONIZE, FALSE,
                     installer::GetCrashReporterInitEventName(
                         static_cast<uint32_t>(parent))
                         .c_str()),
        ::OpenEventW(SYNCHRONIZE, FALSE,
                     GetReporterOpenedEventName(static_cast<uint32_t>(parent))
                         .c_str()),
        &AccessViolation};
    const std::string kind =
        command_line.GetSwitchValueASCII(kReporterCrashesSwitch);
    if (kind == "invalid-parameter")
      crash.crash = &ReporterInvalidParameter;
    else if (kind == "pure-call")
      crash.crash = &ReporterPureCall;
    ::CreateThread(nullptr, 0, &CrashOnceServing, &crash, 0, nullptr);
    // A busy machine may start the relaunched reporter slower than the
    // crashed one is willing to wait for it.
    installer::internal::SetRelaunchWaitForTesting(INFINITE);
  }
  return installer::RunInstaller();
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  OverrideCurrentUserKey();
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(installer::switches::kCrashReporterParentId))
    return RunReporter(command_line);
  if (command_line.HasSwitch(kWatchSwitch))
    return WatchProcess(command_line.GetSwitchValueASCII(kWatchSwitch));

  // A busy machine may start the reporter, or write the dump, slower than
  // the installer is willing to wait; a late reporter is one waited for not
  // at all.
  const bool reporter_late = command_line.HasSwitch(kReporterLateSwitch);
  installer::internal::SetCrashReportingWaitsForTesting(
      reporter_late ? 0 : INFINITE, INFINITE);
  installer::DisableUserModeExceptionFilterBit();
  const base::win::ScopedHandle gave_up(::CreateEventW(
      nullptr, TRUE, FALSE,
      GetGaveUpEventName(::GetCurrentProcessId()).c_str()));
  const base::win::ScopedHandle late_reporter_done(::CreateEventW(
      nullptr, TRUE, FALSE,
      GetLateReporterDoneEventName(::GetCurrentProcessId()).c_str()));
  // Made before the reporter starts, which opens it.
  const base::win::ScopedHandle reporter_opened(::CreateEventW(
      nullptr, TRUE, FALSE,
      GetReporterOpenedEventName(::GetCurrentProcessId()).c_str()));
  installer::StartCrashReporter();
  installer::ConnectCrashHandler();
  installer::SetInstallerCrashKeys();
  if (!command_line.HasSwitch(kAtOnceSwitch)) {
    std::printf("reporter %u\n", installer::GetCrashReporterPid());
    std::printf("child reporter %u\n", installer::CrashReporterPidForChild());
  }

  if (reporter_late) {
    // The reporter's watch of this process must find it running.
    ::SetEvent(gave_up.Get());
    ::WaitForSingleObject(late_reporter_done.Get(), INFINITE);
    return 0;
  }
  if (command_line.HasSwitch(kCrashChildSwitch))
    return RunCrashingChild(command_line.GetSwitchValueASCII(kCrashChildSwitch));
  if (command_line.HasSwitch(kReporterCrashesSwitch))
    return WaitForCrashedReporter(reporter_opened.Get());
  StartIdleThreads(command_line.GetSwitchValueASCII(kThreadsSwitch));
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
