#include "desktop/windows/installer/settings/package_acceptance.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/product/installed_version_check.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

// static
std::optional<PackageAcceptance::Refusal> PackageAcceptance::Judge(
    const std::string& package_version,
    Settings::Operation operation,
    const Status* status) {
  // An uninstallation installs no package.
  if (!status || !status->existing_installation ||
      operation == Settings::kUninstalling) {
    return std::nullopt;
  }
  return JudgeInstalled(package_version, status->install_log.version);
}

// static
std::optional<PackageAcceptance::Refusal> PackageAcceptance::JudgeFolder(
    const std::string& package_version,
    const base::FilePath& folder) {
  const base::FilePath file = folder.Append(kInstallLogName);
  if (!base::PathExists(file))
    return std::nullopt;
  InstallLog log;
  InstallLogReader reader;
  if (!reader.Read(&log, file)) {
    // What the installation's own runs would not read either: no version.
    LOG(WARNING) << "No installed version in " << file.AsUTF8() << ": "
                 << reader.error();
    return std::nullopt;
  }
  return JudgeInstalled(package_version, log.version);
}

// static
std::optional<PackageAcceptance::Refusal> PackageAcceptance::JudgeInstalled(
    const std::string& package_version,
    const std::string& installed_version) {
  if (!IsOlderThanInstalled(package_version, installed_version))
    return std::nullopt;
  return Refusal{kStringNewerVersionInstalled,
                 base::Utf8ToWide(installed_version),
                 "The package (" + package_version +
                     ") is older than the installed version " +
                     installed_version};
}

}  // namespace installer
