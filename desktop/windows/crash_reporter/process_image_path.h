#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_IMAGE_PATH_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_IMAGE_PATH_H_

#include <windows.h>

#include <string>

namespace installer {

// The executable of `process` (opened with PROCESS_QUERY_INFORMATION) as a
// drive path ("C:\..."), converted from the device path the system gives;
// empty, and logged, when no drive leads to it.
std::wstring GetProcessImagePath(HANDLE process);

// `device_path` ("\Device\HarddiskVolume2\dir\file") under the first drive
// whose device is a parent of it; empty when none is. `drives` is the
// drive list as the system gives it (NUL-separated "C:\" entries).
std::wstring DevicePathToDrivePath(const std::wstring& device_path,
                                   const std::wstring& drives);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_IMAGE_PATH_H_
