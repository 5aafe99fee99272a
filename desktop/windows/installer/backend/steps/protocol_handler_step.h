#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PROTOCOL_HANDLER_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PROTOCOL_HANDLER_STEP_H_

#include <string>

#include "desktop/windows/installer/backend/installer_part.h"

namespace installer {

// The step that registers an existing installation as the handler of one
// more URL protocol, named by the backend's command line.
class ProtocolHandlerStep : public InstallerPart {
 public:
  explicit ProtocolHandlerStep(Installer* installer);

  void StepRegisterProtocolHandler();

  // A URL scheme as it may be registered: a letter, then letters, digits,
  // "+", "-" or ".", at most 64 characters.
  static bool IsValidProtocolScheme(const std::wstring& scheme);

 private:
  bool InstallationWroteKey(const std::string& key_path) const;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PROTOCOL_HANDLER_STEP_H_
