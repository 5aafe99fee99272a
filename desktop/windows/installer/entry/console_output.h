#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_CONSOLE_OUTPUT_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_CONSOLE_OUTPUT_H_

#include "base/strings/string_format.h"

namespace installer {

// printf to the process's standard output stream.
void PrintToConsole(const char* format, ...) BASE_PRINTF_FORMAT(1, 2);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_CONSOLE_OUTPUT_H_
