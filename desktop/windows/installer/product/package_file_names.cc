#include "desktop/windows/installer/product/package_file_names.h"

#include <algorithm>
#include <iterator>

#include "base/files/file_path.h"
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

bool IsPackageFileName(std::wstring_view name) {
  const base::FilePath path{std::wstring(name)};
  return std::any_of(std::begin(kPackageFileNames), std::end(kPackageFileNames),
                     [&path](const wchar_t* package_name) {
                       return base::FilePath::CompareIgnoreCase(
                                  path, base::FilePath(package_name)) == 0;
                     });
}

}  // namespace installer
