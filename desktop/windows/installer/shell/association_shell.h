#ifndef DESKTOP_WINDOWS_INSTALLER_SHELL_ASSOCIATION_SHELL_H_
#define DESKTOP_WINDOWS_INSTALLER_SHELL_ASSOCIATION_SHELL_H_

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "base/win/windows_version.h"

namespace installer {

// The Windows services through which the browser asks to become the handler
// of links and documents, and the Windows version that chooses among them.
// Each call passes its arguments on unchanged; a failure is logged and
// reads as false.
class AssociationShell {
 public:
  virtual ~AssociationShell() = default;

  virtual base::win::WindowsVersion windows_version() = 0;

  // The association-registration service's QueryAppIsDefault: true when the
  // service answers and the answer is yes.
  virtual bool QueryAppIsDefault(const std::wstring& query,
                                 ASSOCIATIONTYPE type,
                                 ASSOCIATIONLEVEL level,
                                 const std::wstring& application) = 0;
  virtual bool SetAppAsDefault(const std::wstring& application,
                               const std::wstring& association,
                               ASSOCIATIONTYPE type) = 0;

  // The system's Open-with dialog for `file`, without an owner window. Modal.
  virtual bool ShowOpenWithDialog(const std::wstring& file,
                                  OPEN_AS_INFO_FLAGS flags) = 0;
  // Tells the shell that associations changed.
  virtual void NotifyAssociationChanged() = 0;

  // Starts the application once per entry of `arguments`, in order, allowed
  // to take the foreground; stops at the first start that fails. True when
  // every start succeeded.
  virtual bool ActivateApplication(
      const std::wstring& app_user_model_id,
      const std::vector<std::wstring>& arguments) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SHELL_ASSOCIATION_SHELL_H_
