#ifndef DESKTOP_WINDOWS_INSTALLER_UI_HOST_RESOURCE_IDS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_HOST_RESOURCE_IDS_H_

namespace installer {

// What the front end reads from the host executable's resources: the
// dialogs with their control ids, the icon, the images and the terms text.
// Strings are in product/installer_string_ids.h.
enum HostResource : int {
  kWindowIcon = 1,
  kMainDialog = 101,
  kMessageBoxDialog = 102,
  kOptionsPageDialog = 138,
  kBackgroundImage = 139,  // "JPG"
  kLogoImage = 140,        // "PNG"
  kErrorBadgeImage = 141,  // "PNG"
  kTermsText = 142,        // "TXT", UTF-8
};

inline constexpr wchar_t kTextResourceType[] = L"TXT";

// Controls of the main dialog.
enum MainDialogControl : int {
  kLogoArea = 1000,
  kOptionsButton = 1001,
  kCancelButton = 1002,
  kAcceptButton = 1003,
  kFullPackageButton = 1004,
  kTryAgainButton = 1005,
  kUninstallButton = 1006,
  kTitleText = 1007,
  kTermsAgreementText = 1008,
  kProgressHeading = 1009,
  kInstallFailedHeading = 1010,
  kPhaseText = 1011,
  kTermsTextBox = 1012,
  kBackButton = 1013,
  kMainFolderList = 1017,     // optional
  kMainBrowseButton = 1019,   // optional
  kProgressBar = 1025,
  kRedText = 1028,            // optional
  kUninstallQuestion = 1029,
  kDeleteUserDataBox = 1030,
  kUninstallFailedHeading = 1038,
};

// Controls of the options page.
enum OptionsPageControl : int {
  kLanguageList = 1014,
  kModeList = 1015,
  kFolderList = 1016,
  kChangeFolderButton = 1018,
  kDefaultBrowserBox = 1022,
  kImportDataBox = 1023,
  kShareUsageBox = 1024,
  kInvalidFolderText = 1027,
  kLanguageLabel = 1031,
  kModeLabel = 1032,
  kFolderLabel = 1033,
};

// Controls of the message box dialog.
enum MessageBoxControl : int {
  kMessageText = 1035,
  kMessageAcceptButton = 1036,
  kMessageCancelButton = 1037,
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_HOST_RESOURCE_IDS_H_
