#include "desktop/windows/installer/product/installer_object_names.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "base/logging.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/install_folder_names.h"

namespace installer {

namespace {

constexpr wchar_t kMutexPrefix[] = L"Global\\Tarvo/Installer/";
constexpr wchar_t kPackageReadyEvent[] = L"TarvoInstaller/PackageReady";
constexpr wchar_t kInstallationInterruptedEvent[] =
    L"TarvoInstaller/InstallationInterrupted";
constexpr wchar_t kGivePermissionEvent[] =
    L"TarvoInstaller/GiveInstallPermission";
constexpr wchar_t kUndoPermissionEvent[] =
    L"TarvoInstaller/GiveInstallPermission/Undo";

constexpr wchar_t kGlobalNamespace[] = L"Global\\";
constexpr wchar_t kLocalNamespace[] = L"Local\\";

// An object name holds at most MAX_PATH characters: each name below takes
// the longest installation folder (the mutex's gives way to a digest).
constexpr bool FitsLongestFolder(const wchar_t* name_space,
                                 const wchar_t* prefix) {
  return NameLength(name_space) + NameLength(prefix) + 1 +
             kMaxInstallPathLength <
         MAX_PATH;
}
static_assert(FitsLongestFolder(kGlobalNamespace, kPackageReadyEvent));
static_assert(FitsLongestFolder(kGlobalNamespace,
                                kInstallationInterruptedEvent));
static_assert(FitsLongestFolder(kLocalNamespace, kGivePermissionEvent));
static_assert(FitsLongestFolder(kLocalNamespace, kUndoPermissionEvent));

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

base::FilePath MakeFull(const base::FilePath& folder) {
  if (folder.empty())
    return folder;
  const base::FilePath full(
      GetFullPath(folder.NormalizePathSeparators().value()));
  return full.StripTrailingSeparators();
}

std::wstring WithSlashes(std::wstring text) {
  std::replace(text.begin(), text.end(), L'\\', L'/');
  return text;
}

// A 64-bit FNV-1a digest: two folders that share one only share a mutex.
std::wstring Digest(const std::wstring& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const wchar_t unit : text) {
    hash ^= static_cast<uint16_t>(unit);
    hash *= 1099511628211ull;
  }
  wchar_t digits[17];
  for (int i = 15; i >= 0; --i, hash >>= 4)
    digits[i] = L"0123456789ABCDEF"[hash & 0xF];
  digits[16] = L'\0';
  return digits;
}

}  // namespace

std::wstring MakeInstallerChannelName(const base::FilePath& install_folder) {
  return kInstallerChannelPrefix + install_folder.value();
}

std::wstring MakeKernelObjectName(const std::wstring& name,
                                  const std::wstring& prefix,
                                  bool global) {
  std::wstring joined = prefix + L"/" + name;
  std::replace(joined.begin(), joined.end(), L'\\', L'/');
  return (global ? kGlobalNamespace : kLocalNamespace) + joined;
}

InstallerObjectNames::InstallerObjectNames(const base::FilePath& install_folder)
    : full_folder_(MakeFull(install_folder)),
      folder_(ToUpperOrdinal(full_folder_.value())) {}

InstallerObjectNames::~InstallerObjectNames() = default;

// The runs and the recoveries of one folder must meet whatever spelling
// each was given ("\\?\", 8.3 names), also before the folder exists: the
// long form of the part that exists. The usual full long spelling gives the
// name it always had.
std::wstring InstallerObjectNames::mutex() const {
  const base::FilePath resolved = ResolveLocalPath(full_folder_);
  const std::wstring folder =
      resolved.empty() ? folder_.value() : ToUpperOrdinal(resolved.value());
  std::wstring name = kMutexPrefix + WithSlashes(folder);
  // Longer names are refused by the system.
  if (name.size() >= MAX_PATH)
    name = kMutexPrefix + Digest(folder);
  return name;
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

// The permission exchange stays within the user's session.
std::wstring InstallerObjectNames::give_permission_event() const {
  return MakeKernelObjectName(folder_.value(), kGivePermissionEvent, false);
}

std::wstring InstallerObjectNames::undo_permission_event() const {
  return MakeKernelObjectName(folder_.value(), kUndoPermissionEvent, false);
}

}  // namespace installer
