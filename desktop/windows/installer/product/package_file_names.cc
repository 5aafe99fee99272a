#include "desktop/windows/installer/product/package_file_names.h"

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {

base::FilePath GetComponentInstallerPath(const base::FilePath& folder,
                                         const std::string& component) {
  const base::FilePath program =
      folder.Append(base::Utf8ToWide(component) + kComponentInstallerSuffix);
  if (component == "suite" && !base::PathExists(program))
    return folder.Append(kAssistantInstallerName);
  return program;
}

}  // namespace installer
