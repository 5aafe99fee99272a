#include <windows.h>

#include <sddl.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/crash_reporter/crash_reporting_config.h"
#include "desktop/windows/crash_reporter/parent_exit_watcher.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"
#include "desktop/windows/installer/entry_switches.h"

// The crash reporter serves the crash pipe and writes a minidump of every
// client that asks for one into the crash folder. Turning dumps into crash
// logs and uploading them is not in this build.

namespace installer {

namespace {

// Low integrity: installer processes that run sandboxed may still register.
constexpr wchar_t kPipeSecurity[] = L"S:(ML;;NW;;;S-1-16-4096)";

struct LocalMemoryFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
using ScopedSecurityDescriptor = std::unique_ptr<void, LocalMemoryFreer>;

bool ParseParentProcessId(uint32_t* parent_pid) {
  const std::string value =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(
          switches::kCrashReporterParentId);
  uint64_t pid = 0;
  if (!base::StringToUint64(value, &pid) ||
      pid > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  *parent_pid = static_cast<uint32_t>(pid);
  return true;
}

// The configured crash folder, else the temporary one.
bool GetDumpFolder(base::FilePath* folder) {
  if (!GetCrashReportingConfig()->GetCrashDumpDirectory(folder) &&
      !base::GetPathForKey(base::kTempDir, folder)) {
    return false;
  }
  return base::CreateDirectory(*folder);
}

ScopedSecurityDescriptor MakePipeSecurity(SECURITY_ATTRIBUTES* attributes) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kPipeSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    return ScopedSecurityDescriptor();
  }
  ScopedSecurityDescriptor owned(descriptor);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL sacl = nullptr;
  if (::GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) &&
      present) {
    attributes->lpSecurityDescriptor = descriptor;
  }
  return owned;
}

}  // namespace

int CrashReporterMain() {
  // The reporter's log file is not in this build: errors go to the
  // standard error stream only, never to a file beside the executable.
  base::LoggingSettings logging;
  logging.logging_destination = base::LOG_NONE;
  base::InitLogging(logging);

  uint32_t parent_pid = 0;
  if (!ParseParentProcessId(&parent_pid))
    return -1;
  base::FilePath dump_folder;
  if (!GetDumpFolder(&dump_folder))
    return -1;
  ReporterQuitSignal* quit_signal = ReporterQuitSignal::Instance();
  if (!quit_signal->CreateQuitEvent())
    return -1;
  ParentExitWatcher parent_watcher(quit_signal);
  if (!parent_watcher.Watch(parent_pid))
    return -1;
  base::win::ScopedHandle init_event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE,
                   GetCrashReporterInitEventName(parent_pid).c_str()));
  if (!init_event.IsValid())
    return -1;
  const std::wstring pipe_name =
      GetCrashReporterPipeName(::GetCurrentProcessId());

  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  ScopedSecurityDescriptor descriptor;
  SECURITY_ATTRIBUTES* security = nullptr;
  if (base::win::GetWindowsVersion() >= base::win::kVersionVista) {
    descriptor = MakePipeSecurity(&attributes);
    security = &attributes;
  }

  {
    CrashPipeServer server(pipe_name, security, CrashPipeServer::Callbacks(),
                           true, dump_folder.value());
    if (!server.Start())
      return -1;
    ::SetEvent(init_event.Get());
    init_event.Close();
    quit_signal->Wait();
  }
  // A dump requested while the server shut down holds the signal again.
  quit_signal->Wait();
  return 0;
}

}  // namespace installer
