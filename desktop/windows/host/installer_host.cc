// installer.exe: the host of the installer library. It loads
// "tarvo_installer.dll" from its own folder, runs the library's entry and
// ends with the exit code that installer_result.h maps the result to. It
// carries the resources the library reads (branding, languages, strings).

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "desktop/windows/installer/installer_result.h"
#include "desktop/windows/installer/package_file_names.h"

namespace {

constexpr char kEntryName[] = "RunInstaller";
constexpr wchar_t kMessageTitle[] = L"Tarvo installer";
// The library's own switch parsing is not to be had here: the prefixes it
// accepts, and the switch that keeps a run free of any window.
constexpr std::wstring_view kSwitchPrefixes[] = {L"--", L"-", L"/"};
constexpr std::wstring_view kSilentSwitch = L"silent";

using RunInstallerFunction = uint8_t (*)();

// The library beside this executable, by full path: an installer often
// runs from a downloads folder, where a library of the same name may lie
// in wait for a search by name.
std::wstring GetLibraryPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(
        nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos)
    return std::wstring();
  return path.substr(0, separator + 1) + installer::kInstallerLibraryName;
}

bool IsSilentArgument(std::wstring_view argument) {
  for (const std::wstring_view prefix : kSwitchPrefixes) {
    if (argument.substr(0, prefix.size()) != prefix)
      continue;
    const std::wstring_view name = argument.substr(prefix.size());
    if (name.substr(0, kSilentSwitch.size()) == kSilentSwitch &&
        (name.size() == kSilentSwitch.size() ||
         name[kSilentSwitch.size()] == L'=')) {
      return true;
    }
  }
  return false;
}

bool IsSilentRun() {
  for (int i = 1; i < __argc; ++i) {
    if (__wargv[i] && IsSilentArgument(__wargv[i]))
      return true;
  }
  return false;
}

// A window program has no console, but a caller that handed it a standard
// error (a script, a deployment tool) reads why the run ended there.
void WriteToStandardError(const std::wstring& message) {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE)
    return;
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, message.c_str(), -1,
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return;
  std::string text(static_cast<size_t>(size - 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, message.c_str(), -1, text.data(), size,
                        nullptr, nullptr);
  text += "\r\n";
  DWORD written = 0;
  ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

// Without the library there is no log: the user, or the caller of a silent
// run, is the only one who can be told.
int ReportLibraryUnavailable(const std::wstring& library_path, DWORD error) {
  std::wstring message =
      error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND
          ? L"The installer cannot start: the file " + library_path +
                L" is missing."
          : L"The installer cannot start: the file " + library_path +
                L" cannot be loaded (error " + std::to_wstring(error) + L").";
  message += L" Please download the installer again.";
  WriteToStandardError(message);
  if (!IsSilentRun())
    ::MessageBoxW(nullptr, message.c_str(), kMessageTitle, MB_OK | MB_ICONERROR);
  return installer::kExitLibraryUnavailable;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The libraries that the installer library needs are system libraries:
  // never look for them in the folder this executable runs from.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const std::wstring library_path = GetLibraryPath();
  if (library_path.empty())
    return ReportLibraryUnavailable(installer::kInstallerLibraryName,
                                    ::GetLastError());
  HMODULE library = ::LoadLibraryExW(library_path.c_str(), nullptr, 0);
  if (!library)
    return ReportLibraryUnavailable(library_path, ::GetLastError());
  const auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library, kEntryName)));
  if (!run_installer)
    return ReportLibraryUnavailable(library_path, ::GetLastError());
  return installer::ExitCodeForInstallerResult(run_installer());
}
