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
  void OnError(int code,
               const std::wstring& detail,
               const std::string& message) override {
    calls_.push_back("OnError " + std::to_string(code) + " " +
                     base::WideToUtf8(detail) + " " + message);
  }
  void OnErrorCause(uint32_t system_error) override {
    calls_.push_back("OnErrorCause " + std::to_string(system_error));
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
