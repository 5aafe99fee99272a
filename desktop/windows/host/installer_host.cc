// installer.exe: the host of the installer library. It loads
// "tarvo_installer.dll" from its own folder, runs the library's entry and
// ends with the exit code that installer_result.h maps the result to. It
// carries the resources the library reads (branding, languages, strings).
// It loads only the library of its own build, known by the digest that the
// build wrote into it: the host may run elevated, signed, beside whatever a
// user put in its folder, and a library of another release or stream, even
// one genuinely signed, is not the one this host was shipped with. What it
// checked is what it loads: the library is held, its path pinned (no folder
// on the way can be renamed, and the path opens the held file itself), it
// is loaded by that path, and its mapped image is held to the checked bytes
// before the library is entered. A folder whose path cannot lead to the
// held file alone (a name the path rules rewrite) is refused, and the user
// told to move the installer.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/windows/installer/entry/installer_result.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/signing/authenticode_digest.h"
#include "desktop/windows/installer/signing/held_file_path.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/mapped_image_check.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "installer_library_digest.h"

namespace {

constexpr char kEntryName[] = "RunInstaller";
constexpr wchar_t kMessageTitle[] = L"Tarvo installer";
// The library's own switch parsing is not to be had here: the prefixes it
// accepts, and the switches of runs that never show a window (a silent
// installation, and the roles that only print a value). Those runs tell only
// their standard error why they cannot start: the installer itself runs a
// lone copy of this executable with "--version" to learn whether programs
// may run from a folder, and no box may come of that.
constexpr std::wstring_view kSwitchPrefixes[] = {L"--", L"-", L"/"};
constexpr std::string_view kWindowlessSwitches[] = {
    installer::switches::kSilent, installer::switches::kVersion,
    installer::switches::kInternalVersion, installer::switches::kStream};

using RunInstallerFunction = uint8_t (*)();

std::wstring GetOwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(
        nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The library beside this executable, by full path: an installer often
// runs from a downloads folder, where a library of the same name may lie
// in wait for a search by name.
std::wstring GetLibraryPath(const std::wstring& own_path) {
  const size_t separator = own_path.find_last_of(L'\\');
  if (separator == std::wstring::npos)
    return std::wstring();
  return own_path.substr(0, separator + 1) + installer::kInstallerLibraryName;
}

// Switch names are ASCII: each character compares as it is.
bool IsSwitchName(std::wstring_view text, std::string_view name) {
  return text.size() == name.size() &&
         std::equal(name.begin(), name.end(), text.begin(),
                    [](char expected, wchar_t given) {
                      return static_cast<wchar_t>(expected) == given;
                    });
}

bool IsWindowlessArgument(std::wstring_view argument) {
  for (const std::wstring_view prefix : kSwitchPrefixes) {
    if (argument.substr(0, prefix.size()) != prefix)
      continue;
    const std::wstring_view name =
        argument.substr(prefix.size(),
                        argument.find(L'=', prefix.size()) - prefix.size());
    for (const std::string_view windowless : kWindowlessSwitches) {
      if (IsSwitchName(name, windowless))
        return true;
    }
  }
  return false;
}

bool IsWindowlessRun() {
  for (int i = 1; i < __argc; ++i) {
    if (__wargv[i] && IsWindowlessArgument(__wargv[i]))
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
void Report(const std::wstring& message) {
  WriteToStandardError(message);
  if (!IsWindowlessRun())
    ::MessageBoxW(nullptr, message.c_str(), kMessageTitle, MB_OK | MB_ICONERROR);
}

bool IsMissingFileError(DWORD error) {
  return error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND;
}

int ReportLibraryUnavailable(const std::wstring& library_path, DWORD error) {
  std::wstring message =
      IsMissingFileError(error)
          ? L"The installer cannot start: the file " + library_path +
                L" is missing."
          : L"The installer cannot start: the file " + library_path +
                L" cannot be loaded (error " + std::to_wstring(error) + L").";
  Report(message + L" Please download the installer again.");
  return installer::kExitLibraryUnavailable;
}

int ReportLibraryRefused(const std::wstring& library_path) {
  Report(L"The installer cannot start: the file " + library_path +
         L" is not the library this installer was built with, so it was not "
         L"loaded. Please download the installer again.");
  return installer::kExitLibraryRefused;
}

// A folder on the library's path could not be held, or the path led
// elsewhere than the checked file once it was to be loaded.
int ReportLibraryPathNotHeld(const std::wstring& library_path, DWORD error) {
  Report(L"The installer cannot start: the path of the file " + library_path +
         L" cannot be held against changes (error " + std::to_wstring(error) +
         L"), so it was not loaded. Please download the installer again.");
  return installer::kExitLibraryRefused;
}

// The library's path cannot lead to it alone from its folder: a name there
// that the system reads as another's, or the path opens another file.
int ReportFolderRefused(const std::wstring& library_path) {
  Report(L"The installer cannot start from the folder of " + library_path +
         L": its path does not lead to the installer's files alone, so "
         L"nothing was loaded. Please move the installer to another folder, "
         L"and try again.");
  return installer::kExitLibraryRefused;
}

int ReportLibraryChanged(const std::wstring& library_path) {
  Report(L"The installer cannot start: the file " + library_path +
         L" was changed after it was checked, so it was not run. Please "
         L"download the installer again.");
  return installer::kExitLibraryRefused;
}

// Whether the held library is this build's own: its Authenticode digest is
// the one the build wrote into this executable, which the loader mapped and
// nobody can swap while it runs. The digest leaves the signature out, so it
// is the same for the library signed or not; no signature is read.
bool IsOwnLibrary(const installer::HeldImageFile& library) {
  const std::optional<installer::PeImage> image =
      installer::PeImage::Parse(library.bytes());
  std::vector<uint8_t> digest;
  return image &&
         installer::ComputeAuthenticodeDigest(*image, CALG_SHA_256, &digest) &&
         std::ranges::equal(digest, kInstallerLibraryDigest);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The libraries that the installer library needs are system libraries:
  // never look for them in the folder this executable runs from. First,
  // before anything binds one.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const std::wstring own_path = GetOwnPath();
  const std::wstring library_path = GetLibraryPath(own_path);
  if (library_path.empty())
    return ReportLibraryUnavailable(installer::kInstallerLibraryName,
                                    ::GetLastError());
  installer::TestHooks::OnRolePoint(
      installer::TestHooks::RolePoint::kHostStart);
  // Held, with its path, from the check until the library is mapped, so
  // that what is loaded is what was checked. A missing library is told as
  // such: the installer runs a lone copy of this executable, with no
  // library beside it, before its window shows.
  // Opened as the system spelled this executable's name, which no path rule
  // rewrites: "x.\" stays "x.\" and its pin refuses it.
  installer::HeldImageFile held_library;
  if (const DWORD error = held_library.Open(
          installer::HeldFilePath::AsSpelled(library_path).c_str())) {
    return ReportLibraryUnavailable(library_path, error);
  }
  installer::HeldFilePath pinned_library;
  if (const DWORD error = pinned_library.Pin(held_library.handle())) {
    return installer::HeldFilePath::IsFolderRefusal(error)
               ? ReportFolderRefused(library_path)
               : ReportLibraryPathNotHeld(library_path, error);
  }
  if (!IsOwnLibrary(held_library))
    return ReportLibraryRefused(library_path);
  installer::TestHooks::OnRolePoint(
      installer::TestHooks::RolePoint::kHostLoad);
  // A library runs its own code as it loads, before its image can be
  // proven: under Wine a Linux process renames a pinned folder all the
  // same, which only a look just before the load can see.
  if (pinned_library.Verify(held_library.handle()) != 0)
    return ReportLibraryChanged(library_path);
  HMODULE library =
      ::LoadLibraryExW(pinned_library.path().c_str(), nullptr, 0);
  if (!library)
    return ReportLibraryUnavailable(library_path, ::GetLastError());
  // The one left to a swap between that look and the load: the library is
  // never entered.
  if (installer::MappedImageCheck::CheckModule(
          library, held_library.bytes(),
          installer::MappedImageCheck::Parts::kUnwrittenSections) !=
      installer::MappedImageCheck::Result::kSame) {
    return ReportLibraryChanged(library_path);
  }
  // Mapped: the installation that this run makes may replace the file.
  held_library = installer::HeldImageFile();
  pinned_library.Release();
  const auto run_installer = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library, kEntryName)));
  if (!run_installer)
    return ReportLibraryUnavailable(library_path, ::GetLastError());
  return installer::ExitCodeForInstallerResult(run_installer());
}
