#include "base/process/launch.h"

#include <windows.h>

#include <userenv.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "base/command_line.h"
#include "base/lazy_global.h"
#include "base/logging.h"
#include "base/process/suspended_child.h"
#include "base/process/termination_status.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"

namespace base {

namespace {

constinit LazyGlobalInstance<Lock> g_launch_lock(
    LazyGlobalLifetime::kDestroyAtExit);
// Taken for good by a process that ends itself: never destroyed.
constinit LazyGlobalInstance<Lock> g_child_start_lock(
    LazyGlobalLifetime::kLeaky);

// A handle list of this many entries or more would overflow its byte size.
constexpr size_t kMaxInheritedHandles = size_t{1} << 29;
// What a child created but never let run ends with.
constexpr DWORD kUnstartedExitCode = 1;
constexpr DWORD kJobAssignFailureWaitMs = 60'000;
constexpr DWORD kOutputChunkBytes = 1024;
// How long an ending process waits for a child's start under way; the
// thread that ends it may be a crashed one that holds the start itself.
constexpr int kStartFinishPolls = 1000;
constexpr DWORD kStartFinishPollMs = 10;

// Looked up at run time: they exist from Vista on. The lookup is idempotent,
// so the thread-safe static is all the locking it needs.
struct AttributeListFunctions {
  decltype(&::InitializeProcThreadAttributeList) initialize = nullptr;
  decltype(&::UpdateProcThreadAttribute) update = nullptr;
  decltype(&::DeleteProcThreadAttributeList) remove = nullptr;

  bool available() const { return initialize && update && remove; }
};

template <class Function>
void LookUp(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const AttributeListFunctions& GetAttributeListFunctions() {
  static const AttributeListFunctions functions = [] {
    AttributeListFunctions found;
    if (win::GetWindowsVersion() < win::kVersionVista)
      return found;
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    LookUp(kernel32, "InitializeProcThreadAttributeList", &found.initialize);
    LookUp(kernel32, "UpdateProcThreadAttribute", &found.update);
    LookUp(kernel32, "DeleteProcThreadAttributeList", &found.remove);
    return found;
  }();
  return functions;
}

// A proc-thread attribute list holding the one handle-list attribute.
class HandleListAttribute {
 public:
  HandleListAttribute() = default;
  HandleListAttribute(const HandleListAttribute&) = delete;
  HandleListAttribute& operator=(const HandleListAttribute&) = delete;
  ~HandleListAttribute() {
    if (initialized_)
      GetAttributeListFunctions().remove(list());
  }

  // `handles` must outlive the launch: the list points into it.
  bool Init(const std::vector<HANDLE>& handles) {
    const AttributeListFunctions& functions = GetAttributeListFunctions();
    SIZE_T size = 0;
    functions.initialize(nullptr, 1, 0, &size);
    if (size == 0)
      return false;
    buffer_ = std::make_unique<char[]>(size);
    if (!functions.initialize(list(), 1, 0, &size))
      return false;
    initialized_ = true;
    return functions.update(
        list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
        const_cast<HANDLE*>(handles.data()), handles.size() * sizeof(HANDLE),
        nullptr, nullptr);
  }

  LPPROC_THREAD_ATTRIBUTE_LIST list() const {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
  }

 private:
  std::unique_ptr<char[]> buffer_;
  bool initialized_ = false;
};

// Makes the listed handles inheritable for the launch and gives each its
// own flag back afterwards; left inheritable they would leak into every
// later launch that inherits all handles.
class ScopedInheritableHandles {
 public:
  explicit ScopedInheritableHandles(const std::vector<HANDLE>& handles)
      : handles_(handles), old_flags_(handles.size()) {
    for (size_t i = 0; i < handles_.size(); ++i) {
      CHECK(::GetHandleInformation(handles_[i], &old_flags_[i]));
      CHECK(::SetHandleInformation(handles_[i], HANDLE_FLAG_INHERIT,
                                   HANDLE_FLAG_INHERIT));
    }
  }
  ScopedInheritableHandles(const ScopedInheritableHandles&) = delete;
  ScopedInheritableHandles& operator=(const ScopedInheritableHandles&) = delete;
  // Backwards, so that a handle listed twice ends with its original flag.
  ~ScopedInheritableHandles() {
    const DWORD last_error = ::GetLastError();
    for (size_t i = handles_.size(); i-- > 0;) {
      ::SetHandleInformation(handles_[i], HANDLE_FLAG_INHERIT,
                             old_flags_[i] & HANDLE_FLAG_INHERIT);
    }
    ::SetLastError(last_error);
  }

 private:
  const std::vector<HANDLE>& handles_;
  std::vector<DWORD> old_flags_;
};

// The user environment block made for a launch as another user.
class ScopedEnvironmentBlock {
 public:
  ScopedEnvironmentBlock() = default;
  ScopedEnvironmentBlock(const ScopedEnvironmentBlock&) = delete;
  ScopedEnvironmentBlock& operator=(const ScopedEnvironmentBlock&) = delete;
  ~ScopedEnvironmentBlock() {
    if (block_)
      ::DestroyEnvironmentBlock(block_);
  }

  bool Create(HANDLE token) {
    return ::CreateEnvironmentBlock(&block_, token, FALSE) != FALSE;
  }
  void* Get() const { return block_; }

 private:
  void* block_ = nullptr;
};

std::wstring GetCurrentDesktopName() {
  const HDESK desktop = ::GetThreadDesktop(::GetCurrentThreadId());
  DWORD bytes = 0;
  ::GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &bytes);
  std::wstring name(bytes / sizeof(wchar_t), L'\0');
  if (name.empty() ||
      !::GetUserObjectInformationW(desktop, UOI_NAME, name.data(), bytes,
                                   &bytes)) {
    return std::wstring();
  }
  name.resize(::wcsnlen(name.c_str(), name.size()));
  return name;
}

bool HasStandardHandles(const ProcessLaunchOptions& options) {
  return options.stdin_handle || options.stdout_handle ||
         options.stderr_handle;
}

// `desktop` holds the desktop name the start-up record points to.
void SetDesktopWindowAndStandardHandles(const ProcessLaunchOptions& options,
                                        std::wstring* desktop,
                                        STARTUPINFOW* startup) {
  if (options.empty_desktop_name) {
    desktop->clear();
    startup->lpDesktop = desktop->data();
  } else if (options.current_desktop) {
    *desktop = GetCurrentDesktopName();
    startup->lpDesktop = desktop->data();
  }
  startup->dwFlags = STARTF_USESHOWWINDOW;
  startup->wShowWindow = options.start_hidden ? SW_HIDE : SW_SHOW;
  if (HasStandardHandles(options)) {
    startup->dwFlags |= STARTF_USESTDHANDLES;
    startup->hStdInput = options.stdin_handle;
    startup->hStdOutput = options.stdout_handle;
    startup->hStdError = options.stderr_handle;
  }
}

DWORD CreationFlags(const ProcessLaunchOptions& options) {
  DWORD flags = options.suspended_child ? CREATE_SUSPENDED : 0;
  if (options.job) {
    // Suspended until it is in the job, so that it cannot escape it. Before
    // Windows 8 a process in a job cannot join a second one.
    flags |= CREATE_SUSPENDED;
    if (win::GetWindowsVersion() < win::kVersionWin8)
      flags |= CREATE_BREAKAWAY_FROM_JOB;
  }
  if (options.force_breakaway_from_job)
    flags |= CREATE_BREAKAWAY_FROM_JOB;
  return flags;
}

bool CreateChild(const std::wstring& command_line,
                 const ProcessLaunchOptions& options,
                 BOOL inherit,
                 DWORD flags,
                 STARTUPINFOW* startup,
                 PROCESS_INFORMATION* info) {
  std::wstring writable = command_line;
  const wchar_t* directory = options.current_directory.empty()
                                 ? nullptr
                                 : options.current_directory.c_str();
  const wchar_t* application = options.application_name.empty()
                                   ? nullptr
                                   : options.application_name.c_str();
  if (!options.as_user) {
    return ::CreateProcessW(application, writable.data(), nullptr, nullptr,
                            inherit, flags, nullptr, directory, startup,
                            info) != FALSE;
  }
  ScopedEnvironmentBlock environment;
  if (!environment.Create(options.as_user))
    return false;
  return ::CreateProcessAsUserW(options.as_user, application, writable.data(),
                                nullptr, nullptr, inherit,
                                flags | CREATE_UNICODE_ENVIRONMENT,
                                environment.Get(), directory, startup,
                                info) != FALSE;
}

// Puts the suspended child into the job; a child that cannot join is
// ended, since it would run outside the job's limits.
bool AssignToJob(HANDLE job, HANDLE process) {
  if (!::AssignProcessToJobObject(job, process)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(process, kUnstartedExitCode);
    ::WaitForSingleObject(process, kJobAssignFailureWaitMs);
    ::SetLastError(error);
    return false;
  }
  return true;
}

// Keeps the Windows error of a failed launch as the last error, past the
// clean-up that runs after it. Declared first, so that it is destroyed last.
class LaunchErrorKeeper {
 public:
  LaunchErrorKeeper() = default;
  LaunchErrorKeeper(const LaunchErrorKeeper&) = delete;
  LaunchErrorKeeper& operator=(const LaunchErrorKeeper&) = delete;
  ~LaunchErrorKeeper() {
    if (failed_)
      ::SetLastError(error_);
  }

  Process Fail() {
    failed_ = true;
    error_ = ::GetLastError();
    return Process();
  }

 private:
  bool failed_ = false;
  DWORD error_ = 0;
};

}  // namespace

ProcessLaunchOptions::ProcessLaunchOptions() = default;
ProcessLaunchOptions::~ProcessLaunchOptions() = default;

Process LaunchProcess(const std::wstring& command_line,
                      const ProcessLaunchOptions& options) {
  LaunchErrorKeeper error;
  const AttributeListFunctions& functions = GetAttributeListFunctions();
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb =
      functions.available() ? sizeof(STARTUPINFOEXW) : sizeof(STARTUPINFOW);

  const std::vector<HANDLE>* handles = options.handles_to_inherit;
  const bool use_list = handles && !handles->empty();
  BOOL inherit = handles ? FALSE : (options.inherit_handles ? TRUE : FALSE);
  DWORD flags = CreationFlags(options);
  HandleListAttribute attribute;
  std::unique_ptr<ScopedInheritableHandles> inheritable;
  if (use_list) {
    if (handles->size() >= kMaxInheritedHandles || !functions.available()) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return error.Fail();
    }
    inheritable = std::make_unique<ScopedInheritableHandles>(*handles);
    if (!attribute.Init(*handles))
      return error.Fail();
    startup.lpAttributeList = attribute.list();
    inherit = TRUE;
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }

  std::wstring desktop;
  SetDesktopWindowAndStandardHandles(options, &desktop, &startup.StartupInfo);

  PROCESS_INFORMATION info = {};
  std::optional<AutoLock> starting(std::in_place, GetChildStartLock());
  const bool created = CreateChild(command_line, options, inherit, flags,
                                   &startup.StartupInfo, &info);
  // The child has inherited what it will; the listed handles get their own
  // flags back while the caller still holds the launch lock.
  inheritable.reset();
  if (!created)
    return error.Fail();
  win::ScopedHandle process(info.hProcess);
  win::ScopedHandle thread(info.hThread);

  if (options.job && !AssignToJob(options.job, process.Get()))
    return error.Fail();
  if (options.suspended_child) {
    // Held before the start lock goes: a process that ends from now on
    // finds the child in the list of those it must end.
    if (!options.suspended_child->Hold(process.Get(), std::move(thread))) {
      error.Fail();
      ::TerminateProcess(process.Get(), kUnstartedExitCode);
      return Process();
    }
    return Process(process.Take());
  }
  starting.reset();
  if (options.job)
    ::ResumeThread(thread.Get());
  if (options.wait)
    ::WaitForSingleObject(process.Get(), INFINITE);
  return Process(process.Take());
}

Process LaunchProcessForCommandLine(const CommandLine& command_line,
                                    const ProcessLaunchOptions& options) {
  return LaunchProcess(command_line.GetCommandLineString(), options);
}

bool ReadProcessOutput(const CommandLine& command_line,
                       std::string* output,
                       const OutputLaunchFunction& launch) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0))
    return false;
  win::ScopedHandle reader(read_end);
  win::ScopedHandle writer(write_end);
  if (!::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0))
    return false;

  ProcessLaunchOptions options;
  options.inherit_handles = true;
  options.stdin_handle = ::GetStdHandle(STD_INPUT_HANDLE);
  options.stdout_handle = write_end;
  options.stderr_handle = ::GetStdHandle(STD_ERROR_HANDLE);
  const Process process = launch(command_line, options);
  if (!process.IsValid())
    return false;
  // Only the child may hold the write end, or the reads never see its end.
  writer.Close();

  char buffer[kOutputChunkBytes];
  DWORD read = 0;
  while (::ReadFile(reader.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read != 0) {
    output->append(buffer, read);
  }
  ::WaitForSingleObject(process.Handle(), INFINITE);
  const TerminationStatus status =
      GetTerminationStatus(process.Handle(), nullptr);
  return status != TerminationStatus::kAbnormalTermination &&
         status != TerminationStatus::kProcessCrashed;
}

Lock& GetProcessLaunchLock() {
  return *g_launch_lock.Get();
}

Lock& GetChildStartLock() {
  return *g_child_start_lock.Get();
}

void TerminateCurrentProcess(UINT exit_code) {
  Lock& starts = GetChildStartLock();
  for (int poll = 0; poll < kStartFinishPolls && !starts.Try(); ++poll)
    ::Sleep(kStartFinishPollMs);
  SuspendedChild::EndAllForGood();
  ::TerminateProcess(::GetCurrentProcess(), exit_code);
  for (;;)
    ::Sleep(INFINITE);
}

}  // namespace base
