#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_DEVICE_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_DEVICE_NAME_H_

#include <string_view>

namespace installer {

// Whether Windows opens a file of this name, in any folder, as a device:
// "CON", "NUL", "COM1", "LPT\u00B9" and the others, in any case, with any
// extension and with blanks before it ("NUL .txt"). `name` is one path
// component.
bool IsDeviceName(std::wstring_view name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_DEVICE_NAME_H_
