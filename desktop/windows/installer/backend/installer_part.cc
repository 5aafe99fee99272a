#include "desktop/windows/installer/backend/installer_part.h"

#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

InstallerPart::InstallerPart(Installer* installer)
    : installer_(*installer),
      settings_(installer->settings_),
      transaction_(installer->transaction_),
      install_log_(installer->install_log_),
      package_folder_(installer->package_folder_),
      observers_(installer->observers_),
      uninstall_key_name_(installer->uninstall_key_name_),
      registry_logging_(installer->registry_logging_),
      old_files_for_batch_(installer->old_files_for_batch_),
      delete_empty_company_key_(installer->delete_empty_company_key_),
      launcher_is_64_bit_(installer->launcher_is_64_bit_),
      permission_undo_event_(installer->permission_undo_event_),
      second_process_id_(installer->second_process_id_) {}

InstallerPart::~InstallerPart() = default;

const Status* InstallerPart::status() const {
  return settings_->GetStatus();
}

std::string InstallerPart::Fail(int code,
                                const std::wstring& detail,
                                const std::string& message) {
  return installer_.Fail(code, detail, message);
}

std::string InstallerPart::FailWithCause(int code,
                                         const std::wstring& detail,
                                         const std::string& message,
                                         uint32_t system_error) {
  return installer_.FailWithCause(code, detail, message, system_error);
}

void InstallerPart::ScheduleNextStep() {
  installer_.ScheduleNextStep();
}

void InstallerPart::Succeeded() {
  installer_.Succeeded();
}

bool InstallerPart::FailAtInjectedFault() {
  return installer_.FailAtInjectedFault();
}

void InstallerPart::PostStep(base::Closure step) {
  installer_.PostStep(std::move(step));
}

InstallerElevation& InstallerPart::elevation() {
  return *installer_.elevation_;
}

InstallerPackageWait& InstallerPart::package_wait() {
  return *installer_.package_wait_;
}

PostInstallTasks& InstallerPart::post_install_tasks() {
  return *installer_.post_install_tasks_;
}

ProductShortcuts& InstallerPart::product_shortcuts() {
  return *installer_.shortcuts_;
}

AutoupdateTask& InstallerPart::autoupdate_task() {
  return *installer_.autoupdate_task_;
}

DefaultBrowserReset& InstallerPart::default_browser_reset() {
  return *installer_.default_browser_reset_;
}

UninstallSurvey& InstallerPart::uninstall_survey() {
  return *installer_.uninstall_survey_;
}

UpdateSteps& InstallerPart::update_steps() {
  return *installer_.update_steps_;
}

}  // namespace installer
