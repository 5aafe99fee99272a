// installer.exe: the host of the installer library. It loads
// "tarvo_installer.dll" from its own folder, runs the library's entry and
// ends with the exit code that installer_result.h maps the result to. It
// carries the resources the library reads (branding, languages, strings).

#include <windows.h>

#include <cstdint>
#include <string>

#include "desktop/windows/installer/installer_result.h"

namespace {

constexpr wchar_t kLibraryName[] = L"tarvo_installer.dll";
constexpr char kEntryName[] = "RunInstaller";

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
  return path.substr(0, separator + 1) + kLibraryName;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The libraries that the installer library needs are system libraries:
  // never look for them in the folder this executable runs from.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const std::wstring library_path = GetLibraryPath();
  if (library_path.empty())
    return installer::kExitLibraryUnavailable;
  HMODULE library = ::LoadLibraryExW(library_path.c_str(), nullptr, 0);
  if (!library)
    return installer::kExitLibraryUnavailable;
  const auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library, kEntryName)));
  if (!run_installer)
    return installer::kExitLibraryUnavailable;
  return installer::ExitCodeForInstallerResult(run_installer());
}
