#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEP_MACHINE_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEP_MACHINE_H_

#include <memory>

namespace installer {

class InstallerObserver;
class Settings;

// The installer step machine as the backend drives it: one operation of the
// installer, run as tasks on the calling thread's message loop and reported
// to its observers. It watches the installation-interrupted event itself
// (`InstallerObjectNames`) and reports a cancelled run with
// `OnInstallerTerminated`. Lives on the backend's main thread.
class StepMachine {
 public:
  virtual ~StepMachine() = default;

  virtual void AddObserver(InstallerObserver* observer) = 0;
  virtual void RemoveObserver(InstallerObserver* observer) = 0;
  // Starts the operation of `settings`, which outlive the machine, once per
  // machine. Only posts the first task: the work happens while the loop
  // runs.
  virtual void Run(Settings* settings) = 0;
  // Whether the run reached its success.
  virtual bool succeeded() const = 0;
};

using StepMachineFactory = std::unique_ptr<StepMachine> (*)();

// The step machine for a backend process: the `Installer`.
std::unique_ptr<StepMachine> CreateStepMachine();

// Tests only: `CreateStepMachine` answers through `factory` instead (null
// restores the library's). Returns the factory it replaces.
StepMachineFactory SetStepMachineFactoryForTesting(StepMachineFactory factory);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEP_MACHINE_H_
