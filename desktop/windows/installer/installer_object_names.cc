#include "desktop/windows/installer/installer_object_names.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "base/logging.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/service/utils.h"

namespace installer {

namespace {

constexpr wchar_t kMutexPrefix[] = L"Global\\Tarvo/Installer/";
constexpr wchar_t kPackageReadyEvent[] = L"TarvoInstaller/PackageReady";
constexpr wchar_t kInstallationInterruptedEvent[] =
    L"TarvoInstaller/InstallationInterrupted";
constexpr wchar_t kGiveInstallPermissionEvent[] =
    L"TarvoInstaller/GiveInstallPermission";
constexpr wchar_t kGiveInstallPermissionUndoEvent[] =
    L"TarvoInstaller/GiveInstallPermission/Undo";

// Relative parts resolved and every separator a single backslash; the
// folder as it stands when the system cannot make it full.
std::wstring GetFullPath(const std::wstring& folder) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(
        folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) {
      PLOG(WARNING) << "GetFullPathNameW failed";
      return folder;
    }
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // The size asked for includes the NUL.
  }
}

// The file system's case-insensitive comparison upper-cases unit by unit
// with the system's table; the invariant locale without linguistic casing
// gives the same mapping.
std::wstring ToUpperOrdinal(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX)
    return text;
  std::wstring upper(text.size(), L'\0');
  const int length =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                    static_cast<int>(text.size()), upper.data(),
                    static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length <= 0) {
    PLOG(WARNING) << "LCMapStringEx failed";
    return text;
  }
  upper.resize(static_cast<size_t>(length));
  return upper;
}

base::FilePath CanonicalizeFolder(const base::FilePath& folder) {
  if (folder.empty())
    return folder;
  const base::FilePath full(
      GetFullPath(folder.NormalizePathSeparators().value()));
  return base::FilePath(ToUpperOrdinal(full.StripTrailingSeparators().value()));
}

std::wstring WithSlashes(std::wstring text) {
  std::replace(text.begin(), text.end(), L'\\', L'/');
  return text;
}

}  // namespace

InstallerObjectNames::InstallerObjectNames(const base::FilePath& install_folder)
    : folder_(CanonicalizeFolder(install_folder)) {}

InstallerObjectNames::~InstallerObjectNames() = default;

std::wstring InstallerObjectNames::mutex() const {
  return kMutexPrefix + WithSlashes(folder_.value());
}

std::wstring InstallerObjectNames::channel() const {
  return MakeInstallerChannelName(folder_);
}

std::wstring InstallerObjectNames::package_ready_event() const {
  return MakeKernelObjectName(folder_.value(), kPackageReadyEvent, true);
}

std::wstring InstallerObjectNames::installation_interrupted_event() const {
  return MakeKernelObjectName(folder_.value(), kInstallationInterruptedEvent,
                              true);
}

std::wstring InstallerObjectNames::give_install_permission_event() const {
  return MakeKernelObjectName(folder_.value(), kGiveInstallPermissionEvent,
                              false);
}

std::wstring InstallerObjectNames::give_install_permission_undo_event() const {
  return MakeKernelObjectName(folder_.value(), kGiveInstallPermissionUndoEvent,
                              false);
}

}  // namespace installer
