#include "desktop/windows/installer/product/install_folder_names.h"

namespace installer {

size_t MaxInstallPathLengthFor(size_t deepest_file) {
  const size_t below = 1 + deepest_file + kLongestSetAsideSuffix;
  if (below >= kLongestPath)
    return 0;
  return std::min(kMaxInstallPathLength, kLongestPath - below);
}

}  // namespace installer
