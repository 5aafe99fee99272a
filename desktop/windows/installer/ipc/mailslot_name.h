#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_NAME_H_

#include <string>

namespace base {
class FilePath;
}

namespace installer {

// The channel of an installation: "tarvo_installer\" followed by the folder
// exactly as it stands (backslashes, drive colon and spaces kept), so that
// the front end and the backend meet on it.
std::wstring MakeInstallerChannelName(const base::FilePath& install_folder);

// The Windows object of a channel: "\\.\mailslot\" followed by its name.
std::wstring GetMailslotPath(const std::wstring& channel_name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_NAME_H_
