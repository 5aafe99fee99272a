#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_CHILD_COMMAND_LINE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_CHILD_COMMAND_LINE_H_

#include <windows.h>

#include <string>

// For the tools that start a command line given on their own: what follows
// their own program's name, as it stands.
inline std::wstring GetChildCommandLine() {
  const wchar_t* text = ::GetCommandLineW();
  if (*text == L'"') {
    ++text;
    while (*text && *text != L'"')
      ++text;
    if (*text)
      ++text;
  } else {
    while (*text && *text != L' ' && *text != L'\t')
      ++text;
  }
  while (*text == L' ' || *text == L'\t')
    ++text;
  return text;
}

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_CHILD_COMMAND_LINE_H_
