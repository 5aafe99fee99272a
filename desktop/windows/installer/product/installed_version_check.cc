#include "desktop/windows/installer/product/installed_version_check.h"

#include <vector>

#include "base/version.h"

namespace installer {

bool IsOlderThanInstalled(const std::string& package_version,
                          const std::string& installed_version) {
  const base::Version package(package_version);
  const base::Version installed(installed_version);
  if (!package.IsValid() || package.components().size() != 2 ||
      !installed.IsValid() || installed.components().size() != 4) {
    return false;
  }
  const std::vector<uint32_t>& parts = installed.components();
  const base::Version installed_internal(std::to_string(parts[2]) + "." +
                                         std::to_string(parts[3]));
  return package.CompareTo(installed_internal) < 0;
}

}  // namespace installer
