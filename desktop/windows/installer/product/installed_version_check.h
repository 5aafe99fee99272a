#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLED_VERSION_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLED_VERSION_CHECK_H_

#include <string>

namespace installer {

// Whether a package of internal version `package_version` ("build.patch",
// as `--internal-version` prints it) is older than the installation whose
// install log records `installed_version` ("major.minor.build.patch"):
// builds are numbered across majors, so the build and the patch decide.
// A version that does not read as its form proves nothing: false.
bool IsOlderThanInstalled(const std::string& package_version,
                          const std::string& installed_version);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLED_VERSION_CHECK_H_
