#include "desktop/windows/installer/frontend/backend_reports.h"

namespace installer {

void BackendReports::Reset() {
  success_reported_ = false;
  error_reported_ = false;
  handover_unconfirmed_ = false;
  handover_succeeded_.clear();
}

bool BackendReports::RunSucceeded(bool exit_code_read, DWORD exit_code) const {
  return success_reported_ && !error_reported_ && !handover_unconfirmed_ &&
         exit_code_read && exit_code == 0;
}

void BackendReports::OnError(const RunError& /*error*/) {
  error_reported_ = true;
}

void BackendReports::OnStartingNewMainProcess(bool flag) {
  handover_succeeded_.push_back(false);
}

void BackendReports::OnReturnedToPreviousMainProcess() {
  if (handover_succeeded_.empty())
    return;
  handover_unconfirmed_ |= !handover_succeeded_.back();
  handover_succeeded_.pop_back();
}

void BackendReports::OnSuccess() {
  success_reported_ = true;
  if (!handover_succeeded_.empty())
    handover_succeeded_.back() = true;
}

}  // namespace installer
