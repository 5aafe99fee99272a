#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOADED_VERSION_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOADED_VERSION_CHECK_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

class StatsNode;

// The downloaded programs whose version is checked: the package's
// installer answers for its stream too.
enum class DownloadedProgram { kPackageInstaller, kComponentInstaller };

enum class VersionCheck {
  kPassed,
  kOlderThanInstaller,
  // Not a version, or of another stream.
  kRefused,
  // The program, or the library it loads, failed its check in the folder
  // it was unpacked to, and was not run.
  kFilesChanged,
};

// Runs `executable`, as checked and held, for its version and stream; what
// it says goes into `node` when given, the version it printed into
// `version_read` when given.
[[nodiscard]] VersionCheck CheckDownloadedVersion(
    const base::FilePath& executable,
    DownloadedProgram program,
    StatsNode* node,
    std::string* version_read = nullptr);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOADED_VERSION_CHECK_H_
