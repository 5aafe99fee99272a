#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_TEST_RECORDING_INSTALLER_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_TEST_RECORDING_INSTALLER_OBSERVER_H_

#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/installer_observer.h"

namespace installer {

// Records each call as one line of text, e.g. "OnError 37055 C:\x text".
class RecordingInstallerObserver : public InstallerObserver {
 public:
  const std::vector<std::string>& calls() const { return calls_; }

  void OnInstallFolderCreated() override {
    calls_.push_back("OnInstallFolderCreated");
  }
  void OnStartingNewMainProcess(bool flag) override {
    calls_.push_back("OnStartingNewMainProcess " + std::to_string(flag));
  }
  void OnReturnedToPreviousMainProcess() override {
    calls_.push_back("OnReturnedToPreviousMainProcess");
  }
  void OnTotalSteps(int count) override {
    calls_.push_back("OnTotalSteps " + std::to_string(count));
  }
  void OnStep() override { calls_.push_back("OnStep"); }
  // A known cause follows the text, e.g. "OnError 37062 C:\x copy (112)".
  void OnError(const RunError& error) override {
    calls_.push_back(
        "OnError " + std::to_string(error.code) + " " +
        base::WideToUtf8(error.detail) + " " + error.message +
        (error.cause ? " (" + std::to_string(error.cause) + ")" : ""));
  }
  void OnSuccess() override { calls_.push_back("OnSuccess"); }
  void OnInstallerTerminated(bool success) override {
    calls_.push_back("OnInstallerTerminated " + std::to_string(success));
  }

 private:
  std::vector<std::string> calls_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_TEST_RECORDING_INSTALLER_OBSERVER_H_
