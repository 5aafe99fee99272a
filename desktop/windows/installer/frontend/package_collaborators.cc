#include "desktop/windows/installer/frontend/package_collaborators.h"

#include <utility>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "desktop/windows/installer/frontend/installer_runner.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/pref_default_overrides_fetcher/pref_default_overrides_fetcher.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"

namespace installer {

PackageCollaborators::PackageCollaborators() = default;
PackageCollaborators::PackageCollaborators(PackageCollaborators&&) = default;
PackageCollaborators& PackageCollaborators::operator=(PackageCollaborators&&) =
    default;
PackageCollaborators::~PackageCollaborators() = default;

// static
PackageCollaborators PackageCollaborators::Create(
    PayloadReader* payload_reader,
    const base::FilePath& download_folder,
    const Settings& settings,
    StatsNode* stats,
    PackageFetcher::UIDelegate* ui_delegate,
    PackageFetcher::Delegate* delegate) {
  PackageCollaborators parts;
  if (!payload_reader) {
    LOG(INFO) << "Initializing controller without fetcher.";
    base::FilePath own_folder;
    base::GetPathForKey(base::kExeDir, &own_folder);
    parts.runner =
        std::make_unique<InstallerRunner>(own_folder, base::FilePath(),
                                          /*package_is_temporary=*/false);
    parts.pref_default_overrides_fetcher =
        std::make_unique<PrefDefaultOverridesFetcher>(own_folder, ui_delegate);
    return parts;
  }
  stats->SetString("payload_type", PayloadTypeToString(payload_reader->type()));
  if (payload_reader->type() != PayloadReader::kFullPackage)
    parts.tracking_data = payload_reader->GetPayloadData();
  if (!parts.tracking_data.empty())
    stats->SetString("tracking_data", parts.tracking_data);
  LOG(INFO) << "Initializing controller with fetcher.";
  parts.package_fetcher = std::make_unique<PackageFetcher>(
      download_folder, stats, ui_delegate, delegate, payload_reader,
      settings.architecture(), settings.GetFlag(INSTALL_ASSISTANT));
  const PackageFetcher& fetcher = *parts.package_fetcher;
  const base::FilePath suite_folder = fetcher.suite_path().empty()
                                          ? base::FilePath()
                                          : fetcher.suite_folder();
  // The fetcher deletes the folder it unpacked into when it goes.
  parts.runner = std::make_unique<InstallerRunner>(
      fetcher.package_folder(), suite_folder, /*package_is_temporary=*/true);
  parts.pref_default_overrides_fetcher =
      std::make_unique<PrefDefaultOverridesFetcher>(fetcher.package_folder(),
                                                    ui_delegate);
  return parts;
}

std::string PackageCollaborators::GetPackageVersion() const {
  return package_fetcher ? package_fetcher->GetPackageVersion()
                         : GetInternalVersion();
}

void PackageCollaborators::HandleTrackingData(const Settings& settings,
                                              StatsNode* stats,
                                              base::Closure done) {
  const std::string& chosen = tracking_data.empty()
                                  ? settings.GetStatus()->tracking_data
                                  : tracking_data;
  stats->SetString("tracking_data", chosen);
  if (settings.operation() == Settings::kUninstalling) {
    done.Run();
    return;
  }
  pref_default_overrides_fetcher->FetchPrefDefaultOverrides(chosen,
                                                            std::move(done));
}

}  // namespace installer
