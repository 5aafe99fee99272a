#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SCRIPTED_STEP_MACHINE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SCRIPTED_STEP_MACHINE_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/observer_list.h"
#include "base/weak_reference.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer_observer.h"
#include "desktop/windows/installer/backend/step_machine.h"

namespace installer {

// A step machine that installs nothing: it reports what its script says,
// one posted task per line, and ends the way the real one ends. Like the
// real one it watches the installation-interrupted event of the settings'
// folder from its first task on (a signal, or a signalled event then,
// cancels the run), and waits for the package-ready event when told to.
// Script lines:
//   folder-created | new-process 0|1 | returned | total N | step
//   error CODE DETAIL|MESSAGE   OnError, then OnInstallerTerminated(false)
//   success                     OnSuccess; the run succeeded
//   wait-package                waits for the package-ready event
//   wait                        posts nothing more: only an interruption,
//                               or the backend's end, ends the run
//   exit CODE                   ends the process at once with CODE and no
//                               report, as a killed backend does
class ScriptedStepMachine : public StepMachine,
                            public base::win::ObjectWatcher::Delegate {
 public:
  explicit ScriptedStepMachine(std::vector<std::string> script);
  ~ScriptedStepMachine() override;

  // The script of the machines that `Create` makes, and how many of them
  // were run.
  static void SetScript(std::vector<std::string> script);
  static int runs();
  // A `StepMachineFactory`.
  static std::unique_ptr<StepMachine> Create();

  // StepMachine:
  void AddObserver(InstallerObserver* observer) override;
  void RemoveObserver(InstallerObserver* observer) override;
  void Run(Settings* settings) override;
  bool succeeded() const override { return succeeded_; }

  // base::win::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

 private:
  void Begin();
  void PostNextLine();
  void RunLine();
  // False when the line ends or pauses the script.
  bool RunCommand(const std::string& line);
  void WaitForPackage();
  void Fail(int code, const std::wstring& detail, const std::string& message);
  void Cancel();

  const std::vector<std::string> script_;
  size_t next_line_ = 0;
  Settings* settings_ = nullptr;
  bool running_ = false;
  bool succeeded_ = false;
  base::win::ScopedHandle interrupted_event_;
  base::win::ObjectWatcher interrupted_watcher_;
  base::win::ScopedHandle package_ready_event_;
  base::win::ObjectWatcher package_ready_watcher_;
  base::ObserverList<InstallerObserver> observers_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SCRIPTED_STEP_MACHINE_H_
