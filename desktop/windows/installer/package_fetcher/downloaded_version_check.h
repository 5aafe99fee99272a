#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOADED_VERSION_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOADED_VERSION_CHECK_H_

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/signing/signature_refusal.h"

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
  // The program, or the library it loads, failed its signature check in the
  // folder it was unpacked to, and was not run.
  kSignatureRefused,
};

// Runs `executable`, held and checked as the publisher's (a file of another
// release), for its version and stream; what it says goes into `node` when
// given, the version it printed into `version_read` when given, why its
// signature check refused it into `refusal` when given.
[[nodiscard]] VersionCheck CheckDownloadedVersion(
    const base::FilePath& executable,
    DownloadedProgram program,
    StatsNode* node,
    std::string* version_read = nullptr,
    SignatureRefusal* refusal = nullptr);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOADED_VERSION_CHECK_H_
