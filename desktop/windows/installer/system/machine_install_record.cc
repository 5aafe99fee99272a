#include "desktop/windows/installer/system/machine_install_record.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr wchar_t kInstallLocation[] = L"InstallLocation";
// The entries are written in the 32-bit view, as the installation rows say.
constexpr REGSAM kEntryView = KEY_WOW64_32KEY;
// More than any machine keeps of one product: the list is read by an
// elevated process and anyone may have asked for it.
constexpr DWORD kMaxEntriesRead = 512;

bool IsProductEntry(const std::wstring& name) {
  const std::wstring prefix = GetUninstallEntryName(L"");
  return name.size() > prefix.size() &&
         ToUpperOrdinal(name.substr(0, prefix.size())) ==
             ToUpperOrdinal(prefix);
}

base::FilePath ReadEntryFolder(HKEY list, const std::wstring& name) {
  base::win::RegistryKey entry;
  std::wstring location;
  if (entry.Open(list, name.c_str(), KEY_QUERY_VALUE | kEntryView) !=
          ERROR_SUCCESS ||
      entry.ReadString(kInstallLocation, &location) != ERROR_SUCCESS) {
    return base::FilePath();
  }
  return ResolveLocalPath(base::FilePath(location));
}

}  // namespace

MachineInstallRecord::MachineInstallRecord(std::vector<base::FilePath> folders)
    : folders_(std::move(folders)) {}

MachineInstallRecord::~MachineInstallRecord() = default;

MachineInstallRecord::MachineInstallRecord(MachineInstallRecord&&) = default;

// static
MachineInstallRecord MachineInstallRecord::Read() {
  return ReadFrom(HKEY_LOCAL_MACHINE);
}

// static
MachineInstallRecord MachineInstallRecord::ReadFrom(HKEY root) {
  std::vector<base::FilePath> folders;
  base::win::RegistryKey list;
  const LONG error = list.Open(root, GetUninstallRegistryPath().c_str(),
                               KEY_ENUMERATE_SUB_KEYS | kEntryView);
  if (error != ERROR_SUCCESS) {
    if (error != ERROR_FILE_NOT_FOUND)
      LOG(ERROR) << "Cannot open the programs list, error " << error;
    return MachineInstallRecord(std::move(folders));
  }
  for (const std::wstring& entry : list.SubkeyNames(kMaxEntriesRead)) {
    if (!IsProductEntry(entry))
      continue;
    base::FilePath folder = ReadEntryFolder(list.Handle(), entry);
    if (!folder.empty())
      folders.push_back(std::move(folder));
  }
  return MachineInstallRecord(std::move(folders));
}

bool MachineInstallRecord::Names(const base::FilePath& folder) const {
  if (folder.empty())
    return false;
  const std::wstring wanted = ToUpperOrdinal(folder.value());
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const base::FilePath& recorded) {
                       return ToUpperOrdinal(recorded.value()) == wanted;
                     });
}

}  // namespace installer
