#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PROTECTED_PACKAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PROTECTED_PACKAGE_H_

#include <cstddef>
#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/system/private_temp_folder.h"

namespace installer {

// The package of an installation that an elevated process makes, unpacked
// by that process itself: from the installer file it runs from, held
// against writers with the folders on its path (no folder above it can be
// renamed meanwhile), checked to be the very program that runs and signed
// as the package must be, into a folder made new that only SYSTEM and the
// Administrators may write. Nothing of it is read afterwards from a folder
// the user can write, so nothing there can be swapped while it is
// installed. The folder goes with the object. One thread.
class ProtectedPackage {
 public:
  enum class Result {
    kUnpacked,
    // Neither this process's program nor a downloaded file carries a
    // package.
    kNoPackage,
    // This process's program file is not the program that runs, the file
    // is not signed as a package must be, or the downloaded package is
    // older than this installer or of another stream.
    kRefused,
    // The folder could not be made, or the package not unpacked into it.
    kFailed,
  };

  // Of what the front end writes beside its own copy of the package for
  // the run, the most carried into the protected folder.
  static constexpr size_t kMaxRunDataSize = kMaxRunDataFileSize;

  ProtectedPackage();
  ProtectedPackage(const ProtectedPackage&) = delete;
  ProtectedPackage& operator=(const ProtectedPackage&) = delete;
  ~ProtectedPackage();

  // Unpacks the package of this process's program, the full installer;
  // when it carries none (an online installer), the package the front end
  // downloaded to `downloaded`, which must pass the version check.
  [[nodiscard]] Result Unpack(const base::FilePath& downloaded);
  // Copies into `to` the run's own data (tracking data, preference
  // defaults, the welcome page) that the front end wrote in `from`: the
  // user's input, as a switch is, each file held, bounded, and never read
  // through a link. What is missing or refused stays behind.
  static void CarryRunData(const base::FilePath& from,
                           const base::FilePath& to);

  // Empty until `Unpack` succeeded.
  const base::FilePath& folder() const { return folder_.path(); }
  // For the process that runs from the folder to inherit (see
  // PrivateTempFolder); null until `Unpack` made the folder.
  HANDLE live_run_event() const { return folder_.live_run_event(); }
  // The internal version ("build.patch") of the package unpacked; empty
  // until `Unpack` succeeded.
  const std::string& version() const { return version_; }
  // Why `Unpack` refused the package (kRefused): the file's signature as
  // its check named it; the refusal of a file that is not the program that
  // runs, or of a package that is not the one the front end checked, as a
  // change after that check.
  const RefusedSignature& refusal() const { return refusal_; }

 private:
  enum class Source { kOwnProgram, kDownload };
  // Unpacks the package of `path`, held from here until it is out.
  Result UnpackFile(const base::FilePath& path, Source source);
  Result UnpackHeld(const base::FilePath& path, Source source);

  PrivateTempFolder folder_;
  std::string version_;
  RefusedSignature refusal_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PROTECTED_PACKAGE_H_
