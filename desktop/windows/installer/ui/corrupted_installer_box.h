#ifndef DESKTOP_WINDOWS_INSTALLER_UI_CORRUPTED_INSTALLER_BOX_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_CORRUPTED_INSTALLER_BOX_H_

namespace installer {

// Tells the user that the installer file is corrupted and offers the
// product's web site to download it again, opened in the default browser
// when the user agrees or follows the link, unless `may_run_elevated`: the
// user's own handler of the page would then run with rights the user does
// not have, so nothing is opened and the log says why. Runs the thread's
// user-interface message loop until the user answers. False, with the
// error logged, when the box cannot be shown.
bool AskToDownloadAgain(bool may_run_elevated);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_CORRUPTED_INSTALLER_BOX_H_
