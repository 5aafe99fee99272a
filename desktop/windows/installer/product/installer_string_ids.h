#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_STRING_IDS_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_STRING_IDS_H_

namespace installer {

// Ids of every text the installer shows, in the host executable's string
// table (one block per offered language): the window's, the errors the
// step machine and the runner report, and the front end's own. Each text
// has one name here, whichever process reports it.
enum InstallerString : int {
  kStringWindowTitle = 37000,
  kStringOk = 37001,
  kStringCancel = 37002,
  kStringYes = 37003,
  kStringNo = 37004,
  // "$1": the Accept button's text; holds a link to the terms.
  kStringTermsAgreement = 37005,
  kStringOptions = 37006,
  kStringAcceptAndInstall = 37007,
  kStringAcceptAndUpgrade = 37008,
  kStringBack = 37009,
  kStringLanguageLabel = 37010,
  kStringInstallForLabel = 37011,
  kStringInstallPathLabel = 37012,
  kStringChange = 37016,
  kStringInvalidPath = 37017,
  kStringMakeDefaultBrowser = 37018,
  kStringImportData = 37019,
  kStringShareUsageData = 37020,
  // "$1": kStringTitleProduct.
  kStringTitle = 37022,
  kStringTitleProduct = 37023,
  kStringThankYou = 37024,
  kStringDownloading = 37025,
  kStringExtracting = 37026,
  kStringInstalling = 37027,
  // "$1": the user's name.
  kStringInstallingForUser = 37028,
  kStringUninstalling = 37029,
  kStringBrowseForFolder = 37031,
  kStringAllUsers = 37032,
  kStringCurrentUser = 37033,
  kStringStandalone = 37034,
  kStringUninstallQuestion = 37035,
  kStringDeleteUserData = 37036,
  kStringUninstall = 37037,
  kStringQuitInstallation = 37038,
  kStringQuitUninstallation = 37039,
  // The install modes' help: a heading and its text for each mode.
  kStringAllUsersHelpHeading = 37040,
  kStringAllUsersHelp = 37041,
  kStringCurrentUserHelpHeading = 37042,
  kStringCurrentUserHelp = 37043,
  kStringStandaloneHelpHeading = 37044,
  kStringStandaloneHelp = 37045,
  kStringInstallFailed = 37046,
  kStringUninstallFailed = 37047,
  kStringTryAgain = 37048,
  kStringGetFullInstaller = 37049,
  // Read in each language: that language's own name.
  kStringLanguageName = 37051,
  kStringAutoupdateTaskDescription = 37052,
  // A failed fetch; "$1" of the last two: the download folder.
  kStringDownloadFailed = 37053,
  kStringUnpackingFailed = 37054,
  kStringDownloadFolderFullWhileUnpacking = 37075,
  kStringDownloadFolderFullWhileDownloading = 37076,
  // The errors of a run.
  kStringInstallerError = 37055,
  kStringUninstallerError = 37056,
  // The folder's installer mutex is taken.
  kStringAnotherInstaller = 37057,
  // "$1": the folder's mailslot or event that another program made first.
  kStringInstallerObjectHeld = 37079,
  kStringInvalidLocation = 37058,
  kStringCreateFolderFailed = 37059,
  kStringNoPrivileges = 37060,
  kStringNoAdministratorPrivileges = 37061,
  kStringCopyFileFailed = 37062,
  kStringExecutableInUse = 37063,
  // "$1": the full installer button's text.
  kStringOldWindows = 37064,
  kStringNoSse2 = 37065,
  // A failure's Windows cause, when it has a text of its own.
  kStringDiskFull = 37070,
  kStringFolderNotWritable = 37071,
  // "$1": the longest path allowed.
  kStringFolderPathTooLong = 37072,
  // "$1": the file another program holds.
  kStringRecoveryHeldFile = 37073,
  // "$1": the installation folder.
  kStringUninstallFolder = 37077,
  // A package's program or library failed its check when it was to run:
  // its bytes changed after an earlier check passed them.
  kStringPackageChanged = 37085,
  // A package, or a file of it, refused by its signature for another cause:
  // it has expired and carries no valid time-stamp; it is not trusted on
  // this computer; it is not the publisher's; it is damaged.
  kStringPackageSignatureExpired = 37090,
  kStringPackageSignatureUntrusted = 37091,
  kStringPackageOtherPublisher = 37092,
  kStringPackageSignatureDamaged = 37093,
  // The installer's own file cannot be run by its path, "$1" its folder: a
  // name there that Windows reads as another, or the path opens another
  // file.
  kStringInstallerFolderRefused = 37094,
  // An all-users installation folder refused, "$1" the folder: it lies in
  // a user's profile; others than the administrators may change it.
  kStringAllUsersFolderInProfile = 37086,
  kStringAllUsersFolderNotAdministrators = 37087,
  // The package is older than the installation in the folder ($1: the
  // installed version); nothing was changed.
  kStringNewerVersionInstalled = 37088,
  // The downloaded package is older than the installer that fetched it.
  kStringPackageOlderThanInstaller = 37089,
  // The box shown for an installer file that fails its check.
  kStringCorruptedTitle = 37066,
  kStringCorruptedText = 37067,
  kStringCorruptedGo = 37068,
  kStringCorruptedCancel = 37069,
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_STRING_IDS_H_
