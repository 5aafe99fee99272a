#include "desktop/windows/installer/product_environment/folder_product_environment.h"

namespace installer {

FolderProductEnvironment::FolderProductEnvironment(
    const base::FilePath& install_dir)
    : ProductEnvironmentImpl(install_dir) {}

FolderProductEnvironment::FolderProductEnvironment(
    const base::FilePath& install_dir,
    const InstallLog& install_log)
    : ProductEnvironmentImpl(install_dir, install_log) {}

}  // namespace installer
