#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_STANDALONE_DRIVES_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_STANDALONE_DRIVES_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// A drive that could hold a standalone installation.
struct StandaloneDrive {
  wchar_t letter;
  // As GetDriveTypeW reports it.
  UINT drive_type;
};

// The drives A: to Z: that exist and have media in them.
std::vector<StandaloneDrive> FindDrivesWithMedia();

// Each drive joined with `leaf`, best suited first: removable drives, then
// network, fixed and RAM drives; CD-ROMs and drives of unknown type only
// when nothing better comes first.
std::vector<base::FilePath> RankStandaloneInstallPaths(
    const std::vector<StandaloneDrive>& drives,
    const std::wstring& leaf);

// Tests feed their own drives through this; null restores the real
// enumeration. Returns the previous finder.
using DriveFinder = std::vector<StandaloneDrive> (*)();
DriveFinder SetDriveFinderForTesting(DriveFinder finder);
// The finder in effect.
std::vector<StandaloneDrive> FindStandaloneDrives();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_STANDALONE_DRIVES_H_
