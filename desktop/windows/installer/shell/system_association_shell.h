#ifndef DESKTOP_WINDOWS_INSTALLER_SHELL_SYSTEM_ASSOCIATION_SHELL_H_
#define DESKTOP_WINDOWS_INSTALLER_SHELL_SYSTEM_ASSOCIATION_SHELL_H_

#include <string>
#include <vector>

#include "desktop/windows/installer/shell/association_shell.h"

namespace installer {

// The running system's association services. Each call joins the calling
// thread's COM apartment, or makes a single-threaded one for its duration.
class SystemAssociationShell : public AssociationShell {
 public:
  // AssociationShell:
  base::win::WindowsVersion windows_version() override;
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
};

// The process-wide instance; it holds nothing and is never destroyed.
AssociationShell* GetSystemAssociationShell();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SHELL_SYSTEM_ASSOCIATION_SHELL_H_
