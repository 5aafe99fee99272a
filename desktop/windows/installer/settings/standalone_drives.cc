#include "desktop/windows/installer/settings/standalone_drives.h"

#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace installer {

namespace {

struct DriveRank {
  UINT drive_type;
  int32_t rank;
};
// Lower is better. Types Windows may add later rank as unknown.
constexpr DriveRank kDriveRanks[] = {
    {DRIVE_REMOVABLE, 0},   {DRIVE_REMOTE, 1}, {DRIVE_FIXED, 3},
    {DRIVE_RAMDISK, 4},     {DRIVE_CDROM, 5},  {DRIVE_UNKNOWN, 6},
    {DRIVE_NO_ROOT_DIR, 7},
};
constexpr int32_t kUnknownDriveRank = 6;
// Candidates from here on are kept only when they come first.
constexpr int32_t kFirstPoorRank = 5;

DriveFinder g_drive_finder = nullptr;

int32_t RankOfDriveType(UINT drive_type) {
  for (const DriveRank& entry : kDriveRanks) {
    if (entry.drive_type == drive_type)
      return entry.rank;
  }
  return kUnknownDriveRank;
}

// A drive whose volume cannot be opened, or that reports no media, is no
// candidate; a changed medium still is one. The volume is opened for its
// attributes only, which lets a user without rights ask; only the second
// form of the check-verify request is allowed on such a handle.
bool DriveHasMedia(wchar_t letter) {
  std::wstring volume = L"\\\\.\\A:";
  volume[4] = letter;
  base::win::ScopedHandle handle(::CreateFileW(
      volume.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, 0, nullptr));
  if (!handle.IsValid())
    return false;
  DWORD returned = 0;
  if (::DeviceIoControl(handle.Get(), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0,
                        nullptr, 0, &returned, nullptr)) {
    return true;
  }
  return ::GetLastError() == ERROR_MEDIA_CHANGED;
}

}  // namespace

std::vector<StandaloneDrive> FindDrivesWithMedia() {
  std::vector<StandaloneDrive> drives;
  const DWORD mask = ::GetLogicalDrives();
  for (int32_t index = 0; index < 26; ++index) {
    if (!(mask & (1u << index)))
      continue;
    const wchar_t letter = static_cast<wchar_t>(L'A' + index);
    if (!DriveHasMedia(letter))
      continue;
    const wchar_t root[] = {letter, L':', L'\\', 0};
    drives.push_back({letter, ::GetDriveTypeW(root)});
  }
  return drives;
}

std::vector<base::FilePath> RankStandaloneInstallPaths(
    const std::vector<StandaloneDrive>& drives,
    const std::wstring& leaf) {
  std::vector<std::pair<int32_t, base::FilePath>> candidates;
  for (const StandaloneDrive& drive : drives) {
    // "E:" joined with a name would be relative to that drive's current
    // folder: join with the root.
    const wchar_t drive_root[] = {drive.letter, L':', L'\\', 0};
    candidates.emplace_back(RankOfDriveType(drive.drive_type),
                            base::FilePath(drive_root).Append(leaf));
  }
  LOG(INFO) << "Found " << candidates.size()
            << " paths for standalone install mode.";
  std::stable_sort(
      candidates.begin(), candidates.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<base::FilePath> paths;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0 && candidates[i].first >= kFirstPoorRank)
      continue;
    LOG(INFO) << "Listing default install path for standalone install mode: "
              << candidates[i].second.value().c_str();
    paths.push_back(candidates[i].second);
  }
  return paths;
}

DriveFinder SetDriveFinderForTesting(DriveFinder finder) {
  return std::exchange(g_drive_finder, finder);
}

std::vector<StandaloneDrive> FindStandaloneDrives() {
  return g_drive_finder ? g_drive_finder() : FindDrivesWithMedia();
}

}  // namespace installer
