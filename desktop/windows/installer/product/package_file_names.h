#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_PACKAGE_FILE_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_PACKAGE_FILE_NAMES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace base {
class FilePath;
}

namespace installer {

// The files a package brings, and those an installation made from it keeps
// in its folder. Each process that writes, copies, reads or deletes one
// names it from here, so a rename reaches all of them at once.

// In the package and, once installed, in the installation folder.
//
// The browser's launcher: what shortcuts, the autoupdate task and the
// status checks point at.
inline constexpr wchar_t kLauncherName[] = L"launcher.exe";
// The package's own installer, run as the backend, and its library.
inline constexpr wchar_t kPackageInstallerName[] = L"installer.exe";
inline constexpr wchar_t kInstallerLibraryName[] = L"tarvo_installer.dll";
// The helper that pins the browser to the taskbar.
inline constexpr wchar_t kInstallerHelperName[] = L"installer_helper.exe";
inline constexpr wchar_t kInstallerHelper64Name[] = L"installer_helper_64.exe";
// The helper's copy in its private folder: the shell honours the pin verb
// only for a process of this name.
inline constexpr wchar_t kPinningHelperRunName[] = L"explorer.exe";
// Placed in the version folder by a step of their own, beside the files
// list's.
inline constexpr const wchar_t* kHelperNames[] = {kInstallerHelperName,
                                                  kInstallerHelper64Name};
// The tracking data the package was downloaded with.
inline constexpr wchar_t kServerTrackingDataName[] = L"server_tracking_data";
// The most of one of the run's own data files (the tracking data, the
// preference defaults, the welcome page) that is read back.
inline constexpr size_t kMaxRunDataFileSize = 1 << 20;
// Defaults for the browser's preferences, fetched beside the package.
inline constexpr wchar_t kPrefDefaultOverridesName[] =
    L"pref_default_overrides";

// In the package only.
//
// The files to install, one a line: those of the version subfolder and
// those of the installation folder's root.
inline constexpr wchar_t kFilesListName[] = L"files_list";
inline constexpr wchar_t kRootFilesListName[] = L"root_files_list";
// Installer preferences the download brought, merged into the installed ones.
inline constexpr wchar_t kInstallerPrefsIncludeName[] =
    L"installer_prefs_include.json";

// In the installation folder only.
//
// The installer's preferences, kept across updates.
inline constexpr wchar_t kInstallerPrefsName[] = L"installer_prefs.json";
// The clean-up batch an uninstallation leaves to delete what was in use.
inline constexpr wchar_t kUninstallBatchName[] = L"k.bat";
// The install log's file, and the name an installation of the product's
// former installer gave it, which an update still takes over.
inline constexpr wchar_t kInstallLogName[] = L"installation_status.xml";
inline constexpr wchar_t kFormerInstallLogName[] = L"tarvo_install_log.xml";
// The folder beside it into which an update moves the logs of the versions
// it replaces, each as "<log's name>.<seconds since 1970>[_<index>]", the
// index below kOldStatusNameAttempts.
inline constexpr wchar_t kOldStatusFolder[] = L"old_status";
inline constexpr int kOldStatusNameAttempts = 100;
// A run's journal: "installer_run_<14 digits>_<pid>.journal" (RunFolderName).
inline constexpr wchar_t kRunJournalPrefix[] = L"installer_run";
inline constexpr wchar_t kRunJournalExtension[] = L".journal";

// The browser's own state, in its profile folder.
inline constexpr wchar_t kLocalStateName[] = L"Local State";

// A component's installer in `folder`: "<component>_installer.exe"; the
// suite's, when absent, is served by the assistant's of the same folder.
inline constexpr wchar_t kComponentInstallerSuffix[] = L"_installer.exe";
inline constexpr wchar_t kAssistantInstallerName[] = L"assistant_installer.exe";
base::FilePath GetComponentInstallerPath(const base::FilePath& folder,
                                         const std::string& component);

// Every name above: a file the server adds to the package must not take
// one, in any case, or it would stand in for the package's own.
inline constexpr const wchar_t* kPackageFileNames[] = {
    kLauncherName,           kPackageInstallerName,
    kInstallerLibraryName,   kInstallerHelperName,
    kInstallerHelper64Name,  kServerTrackingDataName,
    kPrefDefaultOverridesName, kFilesListName,
    kRootFilesListName,      kInstallerPrefsIncludeName,
    kInstallerPrefsName,     kUninstallBatchName,
    kLocalStateName,         kAssistantInstallerName,
};
// Whether `name` is one of kPackageFileNames, ignoring case as Windows
// compares file names.
bool IsPackageFileName(std::wstring_view name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_PACKAGE_FILE_NAMES_H_
