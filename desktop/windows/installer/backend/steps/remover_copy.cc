#include "desktop/windows/installer/backend/steps/remover_copy.h"

#include <windows.h>

#include <optional>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/null_standard_handles.h"
#include "base/threading/lock.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signer_certificate.h"

namespace installer {

namespace {

bool StartedBeforeThisProcess(HANDLE process) {
  FILETIME created, own_created, unused1, unused2, unused3;
  return ::GetProcessTimes(process, &created, &unused1, &unused2, &unused3) &&
         ::GetProcessTimes(::GetCurrentProcess(), &own_created, &unused1,
                           &unused2, &unused3) &&
         ::CompareFileTime(&created, &own_created) <= 0;
}

// The module that holds this code: the installer library.
HMODULE GetLibraryModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&GetLibraryModule), &module);
  return module;
}

base::FilePath GetModulePath(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return base::FilePath();
  return base::FilePath(std::wstring(path, length));
}

// Writes into `folder` as `name` the file of the loaded image `module`:
// read from a file held against writers, so that what is checked is what
// is written, and only when it is that very build, signed by the build's
// publisher when this program is signed.
bool CopyLoadedImage(HMODULE module,
                     const base::FilePath& folder,
                     const wchar_t* name) {
  const base::FilePath path = GetModulePath(module);
  HeldImageFile held;
  if (path.empty() || held.Open(path.value().c_str()) != 0)
    return false;
  const auto* running = reinterpret_cast<const uint8_t*>(module);
  if (!RunningImage::IsSameBuild(held.bytes(), running)) {
    LOG(ERROR) << "Not copying " << path.AsUTF8()
               << ": it is not the build that runs";
    return false;
  }
  if (const SignerCertificate* signer = BuildPublisher::RequiredSigner()) {
    const SignatureRefusal check = signer->Check(held);
    if (check != SignatureRefusal::kNone) {
      LOG(ERROR) << "Not copying " << path.AsUTF8() << ": it is "
                 << SignerCertificate::Describe(check);
      return false;
    }
  }
  const int size = static_cast<int>(held.bytes().size());
  if (base::WriteBufferToFile(
          folder.Append(name),
          reinterpret_cast<const char*>(held.bytes().data()), size) != size) {
    PLOG(ERROR) << "Could not copy " << path.AsUTF8();
    return false;
  }
  return true;
}

base::win::ScopedHandle DuplicateOwnProcess() {
  HANDLE process = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(),
                         ::GetCurrentProcess(), &process,
                         SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                         0)) {
    PLOG(ERROR) << "Could not duplicate this process's handle";
  }
  return base::win::ScopedHandle(process);
}

}  // namespace

// static
bool RemoverCopy::Start(const base::FilePath& install_folder,
                        PrivateTempFolder::Owners owners,
                        const std::vector<uint32_t>& process_ids) {
  PrivateTempFolder folder(owners);
  if (!folder.Create()) {
    LOG(ERROR) << "No folder for the installer's copy: the leftovers stay";
    return false;
  }
  const base::FilePath program = folder.path().Append(kPackageInstallerName);
  if (!CopyLoadedImage(::GetModuleHandleW(nullptr), folder.path(),
                       kPackageInstallerName) ||
      !CopyLoadedImage(GetLibraryModule(), folder.path(),
                       kInstallerLibraryName)) {
    LOG(ERROR) << "The installer could not be copied: the leftovers stay";
    return false;
  }
  std::vector<base::win::ScopedHandle> processes;
  processes.push_back(DuplicateOwnProcess());
  for (uint32_t id : process_ids) {
    if (id != 0 && id != ::GetCurrentProcessId())
      processes.push_back(OpenOlderProcess(id));
  }
  // Held by the copy while it lives, so that no later run takes its folder
  // for a dead run's.
  std::vector<HANDLE> inherited = {folder.live_run_event()};
  std::string values;
  for (const base::win::ScopedHandle& process : processes) {
    if (!process.IsValid())
      continue;
    inherited.push_back(process.Get());
    values += (values.empty() ? "" : ",") +
              std::to_string(reinterpret_cast<uintptr_t>(process.Get()));
  }
  base::CommandLine command_line(program);
  command_line.AppendSwitchPath(switches::kRemoveLeftovers, install_folder);
  command_line.AppendSwitchASCII(switches::kWaitForProcesses, values);
  base::ProcessLaunchOptions options;
  options.start_hidden = true;
  base::FilePath system;
  // Not from inside either folder, which it would hold as its current one.
  if (base::GetPathForKey(base::kSystemDir, &system))
    options.current_directory = system.value();
  // The copy outlives this process: its output must not reach whatever
  // reads ours.
  base::NullStandardHandles null_handles;
  if (null_handles.ApplyTo(&options))
    inherited.push_back(options.stdin_handle);
  else
    LOG(WARNING) << "The installer's copy keeps our standard handles";
  // The processes' handles and the null device, and nothing else.
  options.handles_to_inherit = &inherited;
  {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    if (!base::LaunchProcessForCommandLine(command_line, options).IsValid()) {
      PLOG(ERROR) << "Could not start the installer's copy: the leftovers stay";
      return false;
    }
  }
  LOG(INFO) << "Started the installer's copy in " << folder.path().AsUTF8();
  folder.Release();
  return true;
}

// static
base::win::ScopedHandle RemoverCopy::OpenOlderProcess(uint32_t process_id) {
  base::win::ScopedHandle process(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process.IsValid() || !StartedBeforeThisProcess(process.Get()))
    return base::win::ScopedHandle();
  return process;
}

}  // namespace installer
