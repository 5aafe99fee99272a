#include "desktop/windows/installer/backend/installer_runner_backend.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/backend/step_machine.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

// The front end writes the handle's 8 bytes as 16 digits; anything else
// would be read past its end or cut.
constexpr size_t kHandleDigits = 2 * sizeof(uint64_t);

bool ParseInitialProcessHandle(const std::string& value, HANDLE* handle) {
  std::vector<uint8_t> bytes;
  if (value.size() != kHandleDigits || !base::HexStringToBytes(value, &bytes))
    return false;
  uint64_t handle_value = 0;
  memcpy(&handle_value, bytes.data(), sizeof(handle_value));
  *handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle_value));
  return true;
}

// The value comes from the command line: one that names no handle of this
// process is not taken over (and closed) as if it did.
bool IsOpenHandle(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

}  // namespace

InstallerRunnerBackend::InstallerRunnerBackend()
    : installer_(CreateStepMachine()) {}

InstallerRunnerBackend::~InstallerRunnerBackend() {
  if (front_end_process_.IsValid()) {
    front_end_watcher_.StopWatching();
    front_end_process_.Close();
  }
}

bool InstallerRunnerBackend::RunBackend(Settings* settings) {
  settings_ = settings;
  if (!installer_) {
    LOG(ERROR) << "No installer step machine";
    return false;
  }
  if (!FindFrontEnd())
    return false;
  if (front_end_process_.IsValid() &&
      !front_end_watcher_.StartWatching(front_end_process_.Get(), this)) {
    LOG(ERROR) << "Failed watching initial process";
    return false;
  }
  installer_->AddObserver(this);
  if (settings_->IsStatusPending()) {
    VLOG(1) << "Waiting for settings to be ready";
    settings_->AddObserver(this);
  } else {
    VLOG(1) << "Settings already obtained. Running.";
    Start();
  }
  loop_runner_.Run();
  LOG(INFO) << "Installer backend exiting";
  // Still registered when the front end ended before the settings were.
  settings_->RemoveObserver(this);
  installer_->RemoveObserver(this);
  return installer_->succeeded();
}

bool InstallerRunnerBackend::FindFrontEnd() {
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (command_line.HasSwitch(switches::kInitialProcHandle)) {
    const std::string value =
        command_line.GetSwitchValueASCII(switches::kInitialProcHandle);
    VLOG(1) << "Using initial process handle " << value;
    HANDLE handle = nullptr;
    if (!ParseInitialProcessHandle(value, &handle)) {
      LOG(ERROR) << "Failed parsing initial process handle";
      return false;
    }
    if (!IsOpenHandle(handle)) {
      PLOG(ERROR) << "Failed watching initial process";
      return false;
    }
    front_end_process_.Set(handle);
    return true;
  }
  if (command_line.HasSwitch(switches::kInitialPid)) {
    const std::wstring value =
        command_line.GetSwitchValueNative(switches::kInitialPid);
    VLOG(1) << "Using initial pid " << base::WideToUtf8(value);
    uint32_t pid = 0;
    if (!base::WideStringToUint(value, &pid)) {
      LOG(ERROR) << "Failed parsing initial pid";
      return false;
    }
    front_end_process_.Set(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!front_end_process_.IsValid()) {
      // The system names no process by that number any more: the front
      // end ended before this process got here, and nobody waits for it.
      if (pid != 0 && GetLastError() == ERROR_INVALID_PARAMETER) {
        LOG(WARNING) << "Failed opening initial process " << pid
                     << ": it has ended";
      } else {
        PLOG(ERROR) << "Failed opening initial process";
      }
      return false;
    }
    return true;
  }
  if (command_line.HasSwitch(switches::kRegisterProtocolHandler))
    return true;
  LOG(ERROR) << "Missing information about initial process";
  return false;
}

void InstallerRunnerBackend::Start() {
  VLOG(1) << "Starting installation";
  // A mailslot that cannot be opened only loses the reports: the
  // installation runs all the same.
  sender_.Connect(
      InstallerObjectNames(settings_->GetStatus()->install_folder).channel());
  installer_->Run(settings_);
}

void InstallerRunnerBackend::OnPathChanged() {
  VLOG(1) << "Settings obtained. Running.";
  settings_->RemoveObserver(this);
  Start();
}

void InstallerRunnerBackend::OnInstallFolderCreated() {
  Send(MakeInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_CREATED));
}

void InstallerRunnerBackend::OnStartingNewMainProcess(bool flag) {
  VLOG(1) << "Sending IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << flag << ")";
  Send(MakeStartingNewMainProcessMessage(flag));
}

void InstallerRunnerBackend::OnReturnedToPreviousMainProcess() {
  VLOG(1) << "Sending IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS";
  Send(MakeInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
}

void InstallerRunnerBackend::OnTotalSteps(int count) {
  VLOG(1) << "Sending IPC_MESSAGE_TOTAL_STEPS(" << count << ")";
  Send(MakeTotalStepsMessage(count));
}

void InstallerRunnerBackend::OnStep() {
  VLOG(1) << "Sending IPC_MESSAGE_STEP";
  Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
}

void InstallerRunnerBackend::OnError(const RunError& error) {
  VLOG(1) << "Sending IPC_MESSAGE_ERROR(" << error.code << ","
          << base::WideToUtf8(error.detail) << "," << error.message << ","
          << error.cause << ")";
  Send(MakeErrorMessage(error.code, error.detail, error.message, error.cause));
  loop_runner_.Quit();
}

void InstallerRunnerBackend::OnSuccess() {
  VLOG(1) << "Sending IPC_MESSAGE_SUCCESS";
  Send(MakeInstallerMessage(IPC_MESSAGE_SUCCESS));
  loop_runner_.Quit();
}

void InstallerRunnerBackend::OnInstallerTerminated(bool success) {
  LOG(INFO) << "Installation is done: " << success;
  loop_runner_.Quit();
}

void InstallerRunnerBackend::OnObjectSignaled(HANDLE object) {
  VLOG(1) << "Installer UI process ended";
  loop_runner_.Quit();
}

void InstallerRunnerBackend::Send(std::unique_ptr<InstallerMessage> message) {
  sender_.Send(std::move(message));
}

}  // namespace installer
