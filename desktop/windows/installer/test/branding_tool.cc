// Prints the branding values this program sees, one "key=value" per line.
// Built without the host's resources, so that the configuration can only
// come from "_tvautolib.pyd" beside it.

#include <cstdio>

#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"

int main() {
  printf("product=%s\n", installer::GetProductName().c_str());
  printf("company=%s\n", installer::GetCompanyName().c_str());
  printf("version=%s\n", installer::GetVersionString().c_str());
  return 0;
}
