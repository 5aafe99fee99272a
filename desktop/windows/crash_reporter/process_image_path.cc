#include "desktop/windows/crash_reporter/process_image_path.h"

#include <psapi.h>

#include <vector>

#include "base/logging.h"
#include "base/strings/string_util.h"

namespace installer {

namespace {

constexpr DWORD kImagePathSize = 260;
// 26 drives of 4 characters each, and the list's end.
constexpr DWORD kDriveListSize = 26 * 4 + 1;
constexpr DWORD kDeviceNameSize = 1024;

std::vector<std::wstring> SplitDrives(const std::wstring& drives) {
  std::vector<std::wstring> list;
  for (size_t start = 0; start < drives.size();) {
    const size_t end = drives.find(L'\0', start);
    const size_t length =
        (end == std::wstring::npos ? drives.size() : end) - start;
    if (length == 0)
      break;
    list.push_back(drives.substr(start, length));
    start += length + 1;
  }
  return list;
}

bool IsDriveRoot(const std::wstring& drive) {
  return drive.size() == 3 &&
         ((drive[0] >= L'A' && drive[0] <= L'Z') ||
          (drive[0] >= L'a' && drive[0] <= L'z')) &&
         drive[1] == L':' && drive[2] == L'\\';
}

// The device behind a drive root such as "C:\"; empty when there is none.
std::wstring GetDeviceName(const std::wstring& drive) {
  if (!IsDriveRoot(drive)) {
    LOG(WARNING) << "GetDeviceName: '" << drive.c_str() << "'";
    return std::wstring();
  }
  const std::wstring letter = drive.substr(0, 2);
  wchar_t device[kDeviceNameSize];
  if (!::QueryDosDeviceW(letter.c_str(), device, kDeviceNameSize)) {
    PLOG(ERROR) << "QueryDosDevice failed for '" << letter.c_str()
                << "' (from '" << drive.c_str() << "')";
    return std::wstring();
  }
  return device;
}

bool IsDeviceParent(const std::wstring& device, const std::wstring& path) {
  return !device.empty() && path.size() > device.size() &&
         path[device.size()] == L'\\' &&
         base::StartsWithWide(path, device, base::CASE_INSENSITIVE_ASCII);
}

std::wstring GetLogicalDrives() {
  wchar_t drives[kDriveListSize];
  const DWORD result = ::GetLogicalDriveStringsW(kDriveListSize, drives);
  if (result == 0) {
    PLOG(ERROR) << "GetLogicalDriveStrings failed";
    return std::wstring();
  }
  if (result > kDriveListSize) {
    LOG(ERROR) << "GetLogicalDriveStrings failed, result=" << result
               << ", length=" << kDriveListSize;
    return std::wstring();
  }
  return std::wstring(drives, result);
}

}  // namespace

std::wstring GetProcessImagePath(HANDLE process) {
  wchar_t image[kImagePathSize];
  const DWORD length =
      ::GetProcessImageFileNameW(process, image, kImagePathSize);
  if (length == 0) {
    PLOG(ERROR) << "GetProcessImageFileName failed";
    return std::wstring();
  }
  const std::wstring device_path(image, length);
  const std::wstring drives = GetLogicalDrives();
  std::wstring path = DevicePathToDrivePath(device_path, drives);
  if (path.empty()) {
    LOG(WARNING) << "Could not convert process image file name '"
                 << device_path.c_str() << "'";
    for (const std::wstring& drive : SplitDrives(drives)) {
      LOG(INFO) << "Logical drive: " << drive.c_str();
      LOG(INFO) << "Device name: " << GetDeviceName(drive).c_str();
    }
  }
  return path;
}

std::wstring DevicePathToDrivePath(const std::wstring& device_path,
                                   const std::wstring& drives) {
  for (const std::wstring& drive : SplitDrives(drives)) {
    const std::wstring device = GetDeviceName(drive);
    if (IsDeviceParent(device, device_path))
      return drive + device_path.substr(device.size() + 1);
  }
  return std::wstring();
}

}  // namespace installer
