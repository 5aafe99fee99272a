#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_FOLDER_PRODUCT_ENVIRONMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_FOLDER_PRODUCT_ENVIRONMENT_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product_environment/product_environment_impl.h"

namespace installer {

// The product environment of an installation folder that the installer is
// working on; made on the stack.
class FolderProductEnvironment : public ProductEnvironmentImpl {
 public:
  explicit FolderProductEnvironment(const base::FilePath& install_dir);
  // With the install log already read: "installation_status.xml" of the
  // folder is never read.
  FolderProductEnvironment(const base::FilePath& install_dir,
                           const InstallLog& install_log);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_FOLDER_PRODUCT_ENVIRONMENT_H_
