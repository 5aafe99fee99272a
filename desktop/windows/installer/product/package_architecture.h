#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_PACKAGE_ARCHITECTURE_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_PACKAGE_ARCHITECTURE_H_

#include <cstdint>

namespace installer {

// The processor architecture of the browser package: kept by the settings
// (`Settings::kArchitectureX86`, `Settings::kArchitectureX64`) and asked of
// the update server by the package fetcher.
inline constexpr uint32_t kPackageArchitectureX86 = 0;
inline constexpr uint32_t kPackageArchitectureX64 = 1;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_PACKAGE_ARCHITECTURE_H_
