#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_MACHINE_INSTALL_RECORD_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_MACHINE_INSTALL_RECORD_H_

#include <windows.h>

#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The installation folders that the machine's own record names: the
// "InstallLocation" of each of the product's entries in the programs list
// under HKEY_LOCAL_MACHINE, which only an administrator's process writes
// (an all-users installation). An elevated process takes a folder for an
// installation of the product on this record alone: names found inside a
// folder, or anything in the user's hive, can be written by anyone.
class MachineInstallRecord {
 public:
  // `folders` resolved (ResolveLocalPath).
  explicit MachineInstallRecord(std::vector<base::FilePath> folders);
  ~MachineInstallRecord();
  MachineInstallRecord(MachineInstallRecord&&);

  // The record of this machine.
  static MachineInstallRecord Read();
  // The record as kept under `root` (HKEY_LOCAL_MACHINE but for tests).
  static MachineInstallRecord ReadFrom(HKEY root);

  // Whether `folder`, resolved, is one of the folders recorded.
  bool Names(const base::FilePath& folder) const;

  const std::vector<base::FilePath>& folders() const { return folders_; }

 private:
  std::vector<base::FilePath> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_MACHINE_INSTALL_RECORD_H_
