#ifndef DESKTOP_WINDOWS_INSTALLER_SHELL_TASKBAND_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_SHELL_TASKBAND_UTILS_H_

#include <string>

#include "base/files/file_path.h"
#include "base/time/time_delta.h"
#include "desktop/windows/installer/system/private_temp_folder.h"

namespace base::win {
class RegistryKey;
}

namespace installer {

// Pinning the browser's shortcut to the Windows taskbar: the shell verb
// "taskbarpin" on Windows 7 to 8.1, and from Windows 10 on a helper program
// from the installation folder that runs under the name "explorer.exe".

// Modes of the pinning functions.
constexpr int kPinNow = 0;
// At most once every 182 days, remembered per stream under the company key.
constexpr int kPinPeriodically = 1;

// True when the shortcut was pinned; false before Windows 7. The helper's
// copy lies in a private folder of `helper_owners`: the administrators'
// where the process may run elevated, as the helper then runs elevated too.
bool PinToTaskbar(const base::FilePath& installation_folder,
                  const base::FilePath& shortcut,
                  int mode,
                  PrivateTempFolder::Owners helper_owners);
// Runs a private copy of the helper with the shortcut as its argument; true
// when the helper reports success.
bool PinToTaskbarWithHelper(const base::FilePath& installation_folder,
                            const base::FilePath& shortcut,
                            int mode,
                            PrivateTempFolder::Owners helper_owners);
// Writes the current time as the time of the last pinning.
void WriteLastBandCheck(base::win::RegistryKey* key,
                        const std::wstring& value_name);

namespace internal {

// How long the helper may run before it is given up and ended.
constexpr base::TimeDelta kHelperWaitLimit = base::TimeDelta::FromSeconds(60);

// Tests only: PinToTaskbar as on the Windows version index `version`, and
// PinToTaskbarWithHelper with another limit on the helper's run.
bool PinToTaskbarOnVersion(int version,
                           const base::FilePath& installation_folder,
                           const base::FilePath& shortcut,
                           int mode,
                           PrivateTempFolder::Owners helper_owners);
bool PinToTaskbarWithHelper(const base::FilePath& installation_folder,
                            const base::FilePath& shortcut,
                            int mode,
                            PrivateTempFolder::Owners helper_owners,
                            base::TimeDelta wait_limit);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SHELL_TASKBAND_UTILS_H_
