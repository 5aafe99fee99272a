#include "desktop/windows/installer/backend/installer_part.h"

#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

InstallerPart::InstallerPart(Installer* installer)
    : installer_(*installer), run_(installer->run_state()) {}

InstallerPart::~InstallerPart() = default;

const Status* InstallerPart::status() const {
  return run_.settings->GetStatus();
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
  return installer_.elevation();
}

InstallerPackageWait& InstallerPart::package_wait() {
  return installer_.package_wait();
}

PostInstallTasks& InstallerPart::post_install_tasks() {
  return installer_.post_install_tasks();
}

ProductShortcuts& InstallerPart::product_shortcuts() {
  return installer_.product_shortcuts();
}

AutoupdateTask& InstallerPart::autoupdate_task() {
  return installer_.autoupdate_task();
}

DefaultBrowserReset& InstallerPart::default_browser_reset() {
  return installer_.default_browser_reset();
}

UninstallSurvey& InstallerPart::uninstall_survey() {
  return installer_.uninstall_survey();
}

UpdateSteps& InstallerPart::update_steps() {
  return installer_.update_steps();
}

}  // namespace installer
