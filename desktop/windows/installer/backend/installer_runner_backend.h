#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_RUNNER_BACKEND_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_RUNNER_BACKEND_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/message_loop/loop_runner.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

class InstallerMessage;
class StepMachine;

// The whole work of a backend process: ties its life to the front end that
// launched it, runs the step machine once the settings know their folder,
// and forwards every report of the step machine to the front end over the
// installation's mailslot. Lives on the process's main thread, which has a
// message loop.
class InstallerRunnerBackend : public Settings::Observer,
                               public InstallerObserver,
                               public base::win::ObjectWatcher::Delegate {
 public:
  InstallerRunnerBackend();
  InstallerRunnerBackend(const InstallerRunnerBackend&) = delete;
  InstallerRunnerBackend& operator=(const InstallerRunnerBackend&) = delete;
  ~InstallerRunnerBackend() override;

  // Runs the backend to its end: the installation's error or success, the
  // step machine's end, or the front end's exit. True only when the
  // installation succeeded. The front end is named by the process command
  // line ("initial-proc-handle", else "initial-pid"); none is watched when
  // registering a protocol handler.
  bool RunBackend(Settings* settings);

  // Settings::Observer:
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // InstallerObserver:
  void OnInstallFolderCreated() override;
  void OnStartingNewMainProcess(bool flag) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int count) override;
  void OnStep() override;
  void OnError(const RunError& error) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override;

  // base::win::ObjectWatcher::Delegate (the front-end process):
  void OnObjectSignaled(HANDLE object) override;

 private:
  // False (logged) when the command line names no usable front end.
  bool FindFrontEnd();
  void Start();
  void Send(std::unique_ptr<InstallerMessage> message);

  base::LoopRunner loop_runner_;
  base::win::ScopedHandle front_end_process_;
  base::win::ObjectWatcher front_end_watcher_;
  IpcSender sender_;
  std::unique_ptr<StepMachine> installer_;
  Settings* settings_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_RUNNER_BACKEND_H_
