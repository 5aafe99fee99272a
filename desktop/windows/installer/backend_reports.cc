#include "desktop/windows/installer/backend_reports.h"

namespace installer {

void BackendReports::Reset() {
  success_reported_ = false;
  error_reported_ = false;
}

bool BackendReports::RunSucceeded(bool exit_code_read, DWORD exit_code) const {
  return success_reported_ && !error_reported_ && exit_code_read &&
         exit_code == 0;
}

void BackendReports::OnError(int code,
                             const std::wstring& detail,
                             const std::string& message) {
  error_reported_ = true;
}

void BackendReports::OnSuccess() {
  success_reported_ = true;
}

}  // namespace installer
