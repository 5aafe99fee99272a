// Stands in for the browser's launcher in a demo package: appends its
// command line to "launcher_started.txt" beside itself and ends with 0, so
// that a test sees whether, and how, the installation started it.

#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH)
    return 1;
  std::wstring record(path, length);
  record.resize(record.find_last_of(L'\\') + 1);
  record += L"launcher_started.txt";
  FILE* file = _wfopen(record.c_str(), L"ab");
  if (!file)
    return 1;
  const std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(),
                                       static_cast<int>(line.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                      utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), file);
  std::fclose(file);
  return 0;
}
