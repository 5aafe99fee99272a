#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_SURVEY_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_SURVEY_H_

#include <string>

#include "desktop/windows/installer/backend/installer_part.h"

namespace base {
class FilePath;
}

namespace installer {

// The survey an interactive uninstallation opens in Internet Explorer, at
// the branding's "uninstall_survey" URL with the version, the user's id and
// the welcome page's parameters.
class UninstallSurvey : public InstallerPart {
 public:
  explicit UninstallSurvey(Installer* installer);

  void ShowUninstallSurvey();
  // The command line that opens the uninstall survey at `url` in `browser`.
  static std::wstring MakeSurveyCommandLine(const base::FilePath& browser,
                                            bool private_mode,
                                            const std::string& url);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_SURVEY_H_
