#include "desktop/windows/crash_reporter/crash_reporting.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "base/command_line.h"
#include "base/debug/crash_keys.h"
#include "base/debug/exception_hook.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/null_standard_handles.h"
#include "base/process/process.h"
#include "base/process/process_info.h"
#include "base/strings/string_number_conversions.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/crash_reporter/crash_handler.h"
#include "desktop/windows/crash_reporter/crash_key_store.h"
#include "desktop/windows/crash_reporter/crash_key_values.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/crash_reporting_config.h"
#include "desktop/windows/crash_reporter/custom_info.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/system/privileged_peer.h"

// All of this runs before the process opens its log, and a failure is no
// reason to stop the installation: it is told only in verbose lines, which
// do not create a log file of their own.

namespace installer {

namespace {

constexpr wchar_t kInstallerProcessType[] = L"installer";
constexpr DWORD kReporterStartTimeoutMs = 2000;
constexpr uint32_t kNormalMinidump = 0;
constexpr char kTvautoOrigin[] = "TvAuto";
// The guarded call a window procedure runs in is abandoned, so the process
// cannot go on.
constexpr UINT kHookExitCode = 1;

// Bit 0 of the user-mode exception policy: exceptions in kernel callbacks
// are swallowed while it is set.
constexpr DWORD kExceptionSwallowingFlag = 0x1;

using GetPolicyFunction = BOOL(WINAPI*)(LPDWORD flags);
using SetPolicyFunction = BOOL(WINAPI*)(DWORD flags);

// The reporter serving this process: the one named on its command line at
// first, then the one it registered with.
std::atomic<uint32_t> g_reporter_pid{0};
std::atomic<bool> g_reporting_started{false};
std::atomic<DWORD> g_reporter_start_timeout_ms{kReporterStartTimeoutMs};
// Kept to the end of the process once connected: a crash may come at any
// time, exit included.
CrashHandler* g_handler = nullptr;
std::atomic<int32_t> g_first_crash{0};

// Only the first crashing thread is reported; any other one waits here for
// the process to end.
bool FirstCrashOnlyFilter(void* context,
                          EXCEPTION_POINTERS* pointers,
                          AssertionRecord* assertion) {
  int32_t no_crash_yet = 0;
  if (!g_first_crash.compare_exchange_strong(no_crash_yet, 1)) {
    for (;;)
      ::Sleep(INFINITE);
  }
  return true;
}

// Handled whether or not the reporter confirmed the dump: the process ends.
bool AfterDumpCallback(const wchar_t* dump_folder,
                       const wchar_t* dump_id,
                       void* context,
                       EXCEPTION_POINTERS* pointers,
                       AssertionRecord* assertion,
                       bool succeeded) {
  return true;
}

long DumpAndTerminateHook(EXCEPTION_POINTERS* pointers) {
  g_handler->WriteMinidumpForException(pointers);
  base::TerminateCurrentProcess(kHookExitCode);
}

CrashKeyStore* GetOrCreateCrashKeyStore() {
  if (CrashKeyStore* store = CrashKeyStore::Get())
    return store;
  return CrashKeyStore::InitCrashReportingClient(kInstallerProcessType);
}

void SetCrashKeyValue(base::StringSlice key, base::StringSlice value) {
  if (CrashKeyStore* store = CrashKeyStore::Get())
    store->SetCrashKeyIfAllowed(key, value);
}

void ClearCrashKeyValue(base::StringSlice key) {
  if (CrashKeyStore* store = CrashKeyStore::Get())
    store->ClearCrashKeyEntry(key);
}

// The reporter named on the command line, held to the end of the process
// once taken by one that may run elevated: its id then names no other
// process while the pipe's server is checked against it, nor once children
// are told of it.
base::win::ScopedHandle& NamedReporter() {
  static base::win::ScopedHandle reporter;
  return reporter;
}

uint32_t FindCrashReporterFromSwitch() {
  uint32_t pid = 0;
  if (!base::WideStringToUint(
          base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(
              switches::kCrashReporterPid),
          &pid)) {
    return 0;
  }
  if (!MayRunElevated())
    return pid;
  // The reporter is told where this process keeps its crash and names the
  // handles it is to use: a process that may run elevated takes the one its
  // command line names only when its user could not have started it.
  base::win::ScopedHandle reporter = PrivilegedPeer::Open(pid);
  if (!reporter.IsValid()) {
    VLOG(1) << "Not taking crash reporter " << pid
            << ": it may not run with this process's rights";
    return 0;
  }
  NamedReporter() = std::move(reporter);
  return pid;
}

// The reporter is this very program in another role. A process that may
// run elevated may run from a folder its user writes (Downloads, for the
// elevated relaunch and the folder-permission role), where the user can
// rename the running program and put another under its name: it starts
// only the file shown to be its running build, held until it has started,
// and otherwise goes without a reporter.
// The reporter outlives this process and has a log of its own: it gets the
// null device for its standard handles, never this process's console or
// the pipe its starter reads (Wine hands a child ours even when nothing is
// inherited). Else what it says once this process no longer waits for it
// (it came too late, or this process ended) would land there.
base::Process StartReporterProcess(const base::CommandLine& command_line) {
  base::ProcessLaunchOptions options;
  base::NullStandardHandles null_handles;
  if (!null_handles.ApplyTo(&options))
    VLOG(1) << "The crash reporter keeps this process's standard handles";
  if (!MayRunElevated()) {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    return base::LaunchProcessForCommandLine(command_line, options);
  }
  SignedProgramLauncher own_program;
  if (!own_program.HoldRunningProgram()) {
    VLOG(1) << "Not starting the crash reporter: "
            << command_line.GetProgram().AsUTF8()
            << " is no longer the program that runs";
    return base::Process();
  }
  base::Process process;
  {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    process = own_program.Launch(command_line, options);
  }
  if (!process.IsValid() && own_program.refusal() != SignatureRefusal::kNone) {
    VLOG(1) << "Not starting the crash reporter: the path of "
            << command_line.GetProgram().AsUTF8()
            << " led to another image than the one that runs";
  }
  return process;
}

// On the registration thread: the proof of the program takes a while,
// which the process spends on its own work.
LaunchedReporter LaunchCrashReporter() {
  base::CommandLine command_line(*base::CommandLine::ForCurrentProcess());
  // The program the system started, not whatever the command line names
  // first.
  base::FilePath own_program;
  if (!base::GetWindowsPath(base::kExeFile, &own_program))
    return LaunchedReporter();
  command_line.SetProgram(own_program);
  command_line.AppendSwitchASCII(switches::kCrashReporterParentId,
                                 base::Uint64ToString(::GetCurrentProcessId()));
  const std::wstring event_name =
      GetCrashReporterInitEventName(::GetCurrentProcessId());
  if (event_name.empty())
    return LaunchedReporter();
  // Made new, never taken over: one another process made first (and may
  // have signalled already) would say a reporter serves that does not.
  const HANDLE made_event =
      ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
  const DWORD event_error = ::GetLastError();
  LaunchedReporter launched;
  launched.serving.Set(made_event);
  if (!launched.serving.IsValid() || event_error == ERROR_ALREADY_EXISTS) {
    VLOG(1) << "Cannot create the crash reporter's init event"
            << ", error " << event_error;
    return LaunchedReporter();
  }
  base::Process process = StartReporterProcess(command_line);
  if (!process.IsValid()) {
    VLOG(1) << "Cannot start the crash reporter"
            << ", error " << ::GetLastError();
    return LaunchedReporter();
  }
  launched.pid = process.Pid();
  launched.process = std::move(process);
  return launched;
}

// The reporter named on the command line, found still starting: its
// launcher hands it on once it has started. It signals its launcher's init
// event once it serves, which is waited for as a launched one's. An event
// that is gone was let go once the reporter served (or once its launcher
// gave up on it): the registration is tried at once.
LaunchedReporter FindStartingReporter() {
  LaunchedReporter named;
  named.pid = g_reporter_pid;
  named.process = base::Process(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, named.pid));
  if (!named.process.IsValid())
    return LaunchedReporter();
  const std::wstring event_name = GetCrashReporterInitEventName(
      base::GetParentProcessId(named.process.Handle()));
  if (!event_name.empty())
    named.serving.Set(::OpenEventW(SYNCHRONIZE, FALSE, event_name.c_str()));
  return named;
}

// Registered with at once when it serves (a process that ends at once is
// registered all the same), else on a thread of the pipe client's own once
// it does.
std::unique_ptr<CrashPipeClient> ConnectNamedReporter(
    uint32_t pid,
    const CustomInfoBlock& info) {
  auto client = std::make_unique<CrashPipeClient>(pid, kNormalMinidump, info);
  if (client->Register())
    return client;
  client = std::make_unique<CrashPipeClient>(0, kNormalMinidump, info);
  if (!client->StartLaunchingReporter(&FindStartingReporter,
                                      g_reporter_start_timeout_ms)) {
    return nullptr;
  }
  return client;
}

// The handler of this process's crashes, registered with the reporter
// named on its command line, or with the one it launches once that serves
// (on a thread of the pipe client's own). Null when it cannot be.
std::unique_ptr<CrashHandler> MakeCrashHandler(uint32_t named_reporter_pid,
                                               const CustomInfoBlock& info) {
  std::unique_ptr<CrashPipeClient> client;
  if (named_reporter_pid != 0) {
    client = ConnectNamedReporter(named_reporter_pid, info);
  } else {
    client = std::make_unique<CrashPipeClient>(0, kNormalMinidump, info);
    if (!client->StartLaunchingReporter(&LaunchCrashReporter,
                                        g_reporter_start_timeout_ms)) {
      client.reset();
    }
  }
  if (!client)
    return nullptr;
  return std::make_unique<CrashHandler>(&FirstCrashOnlyFilter,
                                        &AfterDumpCallback, nullptr,
                                        RuntimeCrashHandlers::kAll,
                                        std::move(client));
}

void SetKey(const char* name, const std::string& value) {
  base::CrashKeys::SetValue(name, value);
}

std::string ProgramSymbolsPackage() {
  base::FilePath program;
  base::GetPathForKey(base::kExeFile, &program);
  return GetSymbolsPackageName(program);
}

void SetOriginKeys() {
  const std::string tvauto_test = GetEnvironmentValue(kTvautoTestVariable);
  if (!tvauto_test.empty()) {
    SetKey("tvauto_test", tvauto_test);
    SetKey("Origin", kTvautoOrigin);
    return;
  }
  const std::string origin = GetEnvironmentValue(kCrashOriginVariable);
  if (!origin.empty())
    SetKey("Origin", origin);
}

}  // namespace

void StartCrashReporter() {
  g_reporter_pid = FindCrashReporterFromSwitch();
  g_reporting_started = true;
}

void ConnectCrashHandler() {
  const uint32_t named_reporter_pid = g_reporter_pid;
  if (g_handler || !g_reporting_started)
    return;
  const CrashKeyStore* store = GetOrCreateCrashKeyStore();
  std::unique_ptr<CrashHandler> handler =
      MakeCrashHandler(named_reporter_pid, store->custom_info());
  if (!handler || !handler->IsConnected()) {
    VLOG(1) << "Running without a crash handler";
    return;
  }
  // Breakpoints and debug prints are crashes here too.
  handler->set_handle_debug_exceptions(true);
  g_handler = handler.release();
  base::SetExceptionHook(&DumpAndTerminateHook);
}

void SetInstallerCrashKeys() {
  GetOrCreateCrashKeyStore();
  base::CrashKeys::SetReportingFunctions(&SetCrashKeyValue,
                                         &ClearCrashKeyValue);
  GetCrashReportingConfig()->RegisterCrashKeys();
  SetKey("BuildID", GetBuildId());
  SetKey("ReleaseChannel", GetReleaseChannelName());
  SetKey("ProductName", GetCrashUploadProductName());
  SetKey("symbols-package", ProgramSymbolsPackage());
  SetKey("UBN", base::IntToString(GetBuildNumber()));
  SetKey("exception_policy", GetExceptionPolicyCrashKeyValue());
  SetKey("is_wow64", GetIsWow64CrashKeyValue());
  SetKey("modules", GetModulesCrashKeyValue());
  const std::string email = GetCrashEmail();
  if (!email.empty())
    SetKey("Email", email);
  SetOriginKeys();
}

uint32_t GetCrashReporterPid() {
  // Other processes connect to the reporter at once: it must serve first.
  if (g_handler) {
    g_reporter_pid =
        g_handler->AwaitReporter() ? g_handler->reporter_process_id() : 0;
  }
  return g_reporter_pid;
}

uint32_t CrashReporterPidForChild() {
  return g_handler ? g_handler->AwaitReporterLaunch() : g_reporter_pid.load();
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

namespace internal {

void SetCrashReportingWaitsForTesting(uint32_t reporter_start_ms,
                                      uint32_t dump_ms) {
  g_reporter_start_timeout_ms = reporter_start_ms;
  CrashPipeClient::SetDumpWaitForTesting(dump_ms);
}

CrashReportingWaits GetCrashReportingWaitsForTesting() {
  return {g_reporter_start_timeout_ms,
          CrashPipeClient::GetDumpWaitForTesting()};
}

}  // namespace internal

}  // namespace installer
