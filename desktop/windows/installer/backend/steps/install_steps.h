#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_INSTALL_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_INSTALL_STEPS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/backend/installer_part.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"

namespace base {
class CommandLine;
class JsonPrefStore;
}  // namespace base

namespace installer {

struct RegistryEntryDescription;

// The steps that put a new installation in place once its files are there:
// the launcher, the registry, the shortcuts, the installer preferences, the
// components and the finalisation. An update runs them too.
class InstallSteps : public InstallerPart {
 public:
  explicit InstallSteps(Installer* installer);

  // Records the installation folder as the last one (in the transaction),
  // for the next installer's default, unless the run keeps the user's
  // choice out of it.
  void SaveLastInstallPath();

  void StepInstallLauncher();
  void StepSetUpRegistry();
  void StepInstallShortcuts();
  void StepWriteInstallerPrefs();
  void StepInstallComponents();
  void StepFinalizeInstallation();

  // The Uninstall key of this product and version, + `suffix`.
  static std::wstring MakeUninstallKeyPath(const std::wstring& suffix);
  static std::string MakeCountedPrefValue(const std::string& text, bool first);

 private:
  void InstallLauncherAsExecutable(const base::FilePath& folder,
                                   const base::FilePath& launcher);
  void InstallTrackingData(const base::FilePath& folder,
                           const base::CommandLine& command_line);
  void InstallPrefDefaultOverrides(const base::FilePath& folder);
  void InstallHelper(const base::FilePath& folder);
  // The install log as the status file at `target`, in the transaction.
  [[nodiscard]] bool WriteInstallStatus(const base::FilePath& target);
  // Creates an Uninstall key no other installation has under `root`, in
  // the transaction; its name, or empty when none could be made.
  std::wstring ChooseUninstallKey(HKEY root);
  // False when a mandatory row could not be written.
  [[nodiscard]] bool WriteRegistryRow(HKEY root,
                                      const RegistryEntryDescription& row);
  void AddShortcutDestination(
      int32_t flag,
      int path_key,
      base::FilePath* result,
      std::vector<ProductShortcuts::ShortcutDestination>* destinations);
  void FillInstallerPrefs(const std::string& welcome_url,
                          base::JsonPrefStore* prefs);
  void WriteExperimentPrefs(base::JsonPrefStore* prefs);
  void InstallComponent(const std::string& part, bool unsigned_build);
  void MakeDefaultBrowserIfAsked(const base::FilePath& folder);
  static void BroadcastAssociationChange();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_INSTALL_STEPS_H_
