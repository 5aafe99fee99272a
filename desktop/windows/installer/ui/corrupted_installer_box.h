#ifndef DESKTOP_WINDOWS_INSTALLER_UI_CORRUPTED_INSTALLER_BOX_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_CORRUPTED_INSTALLER_BOX_H_

namespace installer {

// Tells the user that the installer file is corrupted and offers the
// product's web site to download it again, opened in the default browser
// when the user agrees or follows the link. Runs the thread's user-interface
// message loop until the user answers. False, with the error logged, when
// the box cannot be shown.
bool AskToDownloadAgain();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_CORRUPTED_INSTALLER_BOX_H_
