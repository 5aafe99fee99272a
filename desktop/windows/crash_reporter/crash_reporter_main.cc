// The crash-reporter process: serves the crash pipe of the installer
// process that started it and of every installer process handed its id,
// turns their crashes into reports, and ends once its parent has ended and
// no crash or upload is in hand.

#include <windows.h>

#include <sddl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "base/win/windows_version.h"
#include "desktop/windows/crash_reporter/counter_file_writer.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_processor.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/crash_reporter_paths.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "desktop/windows/crash_reporter/parent_exit_watcher.h"
#include "desktop/windows/crash_reporter/reporter_crash_handler.h"
#include "desktop/windows/crash_reporter/reporter_features.h"
#include "desktop/windows/crash_reporter/reporter_log.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"
#include "desktop/windows/crash_reporter/reporter_switches.h"

namespace installer {

namespace {

constexpr int kStartFailed = -1;
// Low integrity: installer processes that run sandboxed may still register.
constexpr wchar_t kPipeSecurity[] = L"S:(ML;;NW;;;S-1-16-4096)";

using ScopedSecurityDescriptor = base::win::ScopedLocalAlloc<>;

// Null attributes below Vista, which has no integrity levels.
ScopedSecurityDescriptor MakePipeSecurity(SECURITY_ATTRIBUTES* attributes,
                                          SECURITY_ATTRIBUTES** security) {
  *security = nullptr;
  if (base::win::GetWindowsVersion() < base::win::kVersionVista)
    return ScopedSecurityDescriptor();
  *attributes = {sizeof(*attributes), nullptr, FALSE};
  *security = attributes;
  ScopedSecurityDescriptor descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kPipeSecurity, SDDL_REVISION_1, descriptor.Receive(), nullptr)) {
    return ScopedSecurityDescriptor();
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL sacl = nullptr;
  if (::GetSecurityDescriptorSacl(descriptor.Get(), &present, &sacl,
                                  &defaulted) &&
      present) {
    attributes->lpSecurityDescriptor = descriptor.Get();
  }
  return descriptor;
}

}  // namespace

int CrashReporterMain() {
  PrepareCrashReporterRelaunch(false);
  uint32_t parent_pid = 0;
  if (!ParseParentProcessId(&parent_pid))
    return kStartFailed;
  ReporterLogInit();
  if (!GetCrashDirectory())
    return kStartFailed;
  ApplyFeatureOverrides(GetPreferencesFilePath());
  if (!IsMetricsReportingEnabled())
    return kStartFailed;
  InitCrashServerUrls();

  ReporterQuitSignal* quit_signal = ReporterQuitSignal::Instance();
  if (!quit_signal->CreateQuitEvent())
    return kStartFailed;
  ParentExitWatcher parent_watcher(quit_signal);
  if (!parent_watcher.Watch(parent_pid))
    return kStartFailed;
  base::win::ScopedHandle init_event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE,
                   GetCrashReporterInitEventName(parent_pid).c_str()));
  if (!init_event.IsValid()) {
    // The event lives as long as the parent waits for this reporter: it
    // gave up on a reporter this late, or has ended. Nothing went wrong
    // here, and nobody is served.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
      LOG(WARNING) << "Process " << parent_pid
                   << " no longer waits for its crash reporter";
    } else {
      PLOG(ERROR) << "No crash reporter init event for " << parent_pid;
    }
    return kStartFailed;
  }
  const std::wstring pipe_name =
      GetCrashReporterPipeName(::GetCurrentProcessId());
  // Crash files are created under relative names, in the crash folder.
  if (!::SetCurrentDirectoryW(GetCrashDirectoryPath().value().c_str())) {
    PLOG(ERROR) << "Cannot enter the crash folder";
    return kStartFailed;
  }
  SECURITY_ATTRIBUTES attributes = {};
  SECURITY_ATTRIBUTES* security = nullptr;
  const ScopedSecurityDescriptor descriptor =
      MakePipeSecurity(&attributes, &security);

  CounterFileWriter counter_writer(GetCounterFilePath());
  CrashProcessor processor(&counter_writer, ShouldKeepCrashLogs(false));
  CrashPipeServer::Callbacks callbacks;
  callbacks.on_dump = &CrashProcessor::OnClientDumpRequested;
  callbacks.dump_context = &processor;
  {
    CrashPipeServer server(pipe_name, security, callbacks, false,
                           std::wstring());
    if (!server.Start())
      return kStartFailed;
    ::SetEvent(init_event.Get());
    init_event.Close();
    quit_signal->Wait();
  }
  // A crash that came while the server shut down queued its upload since.
  quit_signal->Wait();
  return 0;
}

}  // namespace installer
