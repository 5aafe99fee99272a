#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_RECORDING_ASSOCIATION_SHELL_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_RECORDING_ASSOCIATION_SHELL_H_

#include <string>
#include <vector>

#include "base/win/windows_version.h"
#include "desktop/windows/installer/shell/association_shell.h"

namespace installer::test {

// Stands in for the shell's association services, which Wine does not
// provide (the registration service answers E_NOTIMPL, the activation
// manager is not registered) or which would show a window (the Open-with
// dialog). Pretends to run the Windows version it is given and writes each
// call, with its arguments, to a journal.
class RecordingAssociationShell : public AssociationShell {
 public:
  explicit RecordingAssociationShell(base::win::WindowsVersion version)
      : version_(version) {}

  // Whether the calls from now on succeed (true at first).
  void set_succeeds(bool succeeds) { succeeds_ = succeeds; }
  // QueryAppIsDefault's answer when it succeeds (true at first).
  void set_is_default(bool is_default) { is_default_ = is_default; }

  // One line per call: "Name(argument, ...)", numbers in decimal but the
  // Open-with flags in hexadecimal.
  const std::vector<std::wstring>& calls() const { return calls_; }

  // AssociationShell:
  base::win::WindowsVersion windows_version() override { return version_; }
  bool QueryAppIsDefault(const std::wstring& query,
                         ASSOCIATIONTYPE type,
                         ASSOCIATIONLEVEL level,
                         const std::wstring& application) override;
  bool SetAppAsDefault(const std::wstring& application,
                       const std::wstring& association,
                       ASSOCIATIONTYPE type) override;
  bool ShowOpenWithDialog(const std::wstring& file,
                          OPEN_AS_INFO_FLAGS flags) override;
  void NotifyAssociationChanged() override;
  bool ActivateApplication(const std::wstring& app_user_model_id,
                           const std::vector<std::wstring>& arguments) override;

 private:
  const base::win::WindowsVersion version_;
  bool succeeds_ = true;
  bool is_default_ = true;
  std::vector<std::wstring> calls_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_RECORDING_ASSOCIATION_SHELL_H_
