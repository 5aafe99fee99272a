#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_ERROR_TEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_ERROR_TEXT_H_

#include <windows.h>

#include <string>

namespace installer {

// Whether `code` lies in WinINet's own error range (12000-12175), whose
// texts live in wininet.dll rather than in the system's message table.
bool IsWinInetError(DWORD code);

// The text of a Windows or WinINet error followed by its code in hex, e.g.
// "The operation timed out (0x2EE2)", for log lines.
std::string WinInetErrorText(DWORD code);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_ERROR_TEXT_H_
