#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_NAME_H_

#include <string>

namespace installer {

// The Windows object of a channel: "\\.\mailslot\" followed by its name.
inline constexpr wchar_t kMailslotPathPrefix[] = L"\\\\.\\mailslot\\";
std::wstring GetMailslotPath(const std::wstring& channel_name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_NAME_H_
