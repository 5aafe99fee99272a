#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_PACKAGE_COLLABORATORS_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_PACKAGE_COLLABORATORS_H_

#include <memory>
#include <string>

#include "base/closure.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

namespace base {
class FilePath;
}

namespace installer {

class InstallerRunner;
class PayloadReader;
class PrefDefaultOverridesFetcher;
class Settings;
class StatsNode;

// What a front end, silent or with its window, installs with: the package
// fetcher (none when the library runs from an unpacked package), the runner
// of the backend, the fetcher of the preference defaults, and the tracking
// data the installer file carries.
struct PackageCollaborators {
  PackageCollaborators();
  PackageCollaborators(PackageCollaborators&&);
  PackageCollaborators& operator=(PackageCollaborators&&);
  ~PackageCollaborators();

  // Made for `payload_reader`, or for the library's own folder when it is
  // null; the fetcher is not started. The payload type and the file's
  // tracking data go into `stats`.
  static PackageCollaborators Create(PayloadReader* payload_reader,
                                     const base::FilePath& download_folder,
                                     const Settings& settings,
                                     StatsNode* stats,
                                     PackageFetcher::UIDelegate* ui_delegate,
                                     PackageFetcher::Delegate* delegate);

  // Records the tracking data the installation goes by (the file's own,
  // else the installation's) and, unless uninstalling, fetches the
  // preference defaults it names; `done` runs once that is over.
  void HandleTrackingData(const Settings& settings,
                          StatsNode* stats,
                          base::Closure done);

  // The ready package's internal version ("build.patch"): the fetched
  // one's, or this installer's own when it runs from an unpacked package.
  std::string GetPackageVersion() const;

  std::unique_ptr<PackageFetcher> package_fetcher;
  std::unique_ptr<InstallerRunner> runner;
  std::unique_ptr<PrefDefaultOverridesFetcher> pref_default_overrides_fetcher;
  std::string tracking_data;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_PACKAGE_COLLABORATORS_H_
