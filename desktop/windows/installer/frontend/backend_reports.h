#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_BACKEND_REPORTS_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_BACKEND_REPORTS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "desktop/windows/installer/ipc/installer_observer.h"

namespace installer {

// What the backend of one run reported over the mailslot, and the run's
// verdict from it and the backend's exit code. An exit code alone proves
// nothing: a process ended by `TerminateProcess(h, 0)`, or by any path that
// returns 0 early, reads 0, and so does a killed one under Wine. Lives on
// the front end's main thread with its runner.
class BackendReports : public InstallerObserver {
 public:
  BackendReports() = default;
  BackendReports(const BackendReports&) = delete;
  BackendReports& operator=(const BackendReports&) = delete;

  // Forgets the reports of an earlier run.
  void Reset();

  // True only when the backend reported its success and then ended with
  // code 0 (`exit_code_read` false: its code could not be read), and every
  // installer it handed over to reported its own success.
  bool RunSucceeded(bool exit_code_read, DWORD exit_code) const;
  bool success_reported() const { return success_reported_; }
  bool error_reported() const { return error_reported_; }
  // A handed-over installer returned without reporting its success: the
  // waiting backend's verdict from its exit code alone is worth nothing
  // (a killed one reads 0 under Wine).
  bool handover_unconfirmed() const { return handover_unconfirmed_; }

  // InstallerObserver:
  void OnInstallFolderCreated() override {}
  void OnStartingNewMainProcess(bool flag) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int count) override {}
  void OnStep() override {}
  void OnError(const RunError& error) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override {}

 private:
  bool success_reported_ = false;
  bool error_reported_ = false;
  bool handover_unconfirmed_ = false;
  // One per open hand-over, innermost last: whether its installer reported
  // success.
  std::vector<bool> handover_succeeded_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_BACKEND_REPORTS_H_
