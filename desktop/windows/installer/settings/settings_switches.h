#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_SWITCHES_H_

namespace base {
class CommandLine;
}

namespace installer {

// The switches through which installer processes hand the settings on.
namespace switches {
inline constexpr char kBackend[] = "backend";
inline constexpr char kSilent[] = "silent";
inline constexpr char kInitialPid[] = "initial-pid";
inline constexpr char kTempFolder[] = "temp-folder";
inline constexpr char kComponents[] = "components";
inline constexpr char kVerbosity[] = "v";
inline constexpr char kInstall[] = "install";
inline constexpr char kAutoupdate[] = "autoupdate";
inline constexpr char kImportBrowserData[] = "import-browser-data";
inline constexpr char kEnableStats[] = "enable-stats";
inline constexpr char kEnableInstallerStats[] = "enable-installer-stats";
inline constexpr char kLaunchTarvo[] = "launchtarvo";
// Read when `kLaunchTarvo` is absent; never written.
inline constexpr char kLaunchBrowser[] = "launchbrowser";
inline constexpr char kInstallFolder[] = "installfolder";
inline constexpr char kProfileFolder[] = "profile-folder";
inline constexpr char kNiuid[] = "niuid";
inline constexpr char kLanguage[] = "language";
inline constexpr char kSingleProfile[] = "singleprofile";
inline constexpr char kCopyOnly[] = "copyonly";
inline constexpr char kAllUsers[] = "allusers";
inline constexpr char kSetDefaultBrowser[] = "setdefaultbrowser";
inline constexpr char kStartMenuShortcut[] = "startmenushortcut";
inline constexpr char kDesktopShortcut[] = "desktopshortcut";
inline constexpr char kQuickLaunchShortcut[] = "quicklaunchshortcut";
inline constexpr char kPinToTaskbar[] = "pintotaskbar";
inline constexpr char kReplaceKilnorInstallation[] =
    "replacekilnorinstallation";
inline constexpr char kServerTrackingData[] = "server-tracking-data";
inline constexpr char kUninstall[] = "uninstall";
inline constexpr char kDeleteUserProfile[] = "deleteuserprofile";
inline constexpr char kInstallAssistant[] = "install-assistant";
inline constexpr char kRegisterProtocolHandler[] =
    "register-tarvo-as-protocol-handler";
inline constexpr char kImportBookmarks[] = "import-bookmarks";
inline constexpr char kImportSession[] = "import-session";
inline constexpr char kImportTopSites[] = "import-topsites-to-startpage";
// What the runner adds for the backend it launches.
inline constexpr char kInitialProcHandle[] = "initial-proc-handle";
inline constexpr char kWaitForPackage[] = "wait-for-package";
inline constexpr char kCrashReporterPid[] = "crash-reporter-pid";
// The package folder is the front end's unpacked copy, deleted once the
// installation ends: its files may be moved instead of copied.
inline constexpr char kTemporaryPackage[] = "temporary-package";
}  // namespace switches

// The process's command line; an empty one while it has not been parsed.
const base::CommandLine& GetProcessCommandLine();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_SWITCHES_H_
