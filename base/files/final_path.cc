#include "base/files/final_path.h"

#include <cstdint>
#include <vector>

#include "base/logging.h"

namespace base {

namespace {

// Longer names than this are refused rather than read.
constexpr DWORD kMaxPathLength = 32768;

std::wstring ReadWholePath(HANDLE handle) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int round = 0; round < 3; ++round) {
    const DWORD length = GetFinalPathNameByHandleW(
        handle, buffer.data(), static_cast<DWORD>(buffer.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length > kMaxPathLength)
      return std::wstring();
    if (length < buffer.size())
      return WithoutLongPrefix(std::wstring_view(buffer.data(), length));
    buffer.resize(length + 1);
  }
  return std::wstring();
}

// The path inside the volume, "\folder\name".
std::wstring ReadPathInVolume(HANDLE handle) {
  std::vector<uint8_t> buffer(sizeof(FILE_NAME_INFO) +
                              kMaxPathLength * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info,
                                    static_cast<DWORD>(buffer.size()))) {
    return std::wstring();
  }
  return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

bool VolumeSerial(HANDLE handle, DWORD* serial) {
  return GetVolumeInformationByHandleW(handle, nullptr, 0, serial, nullptr,
                                       nullptr, nullptr, 0);
}

std::wstring VolumeRootOf(std::wstring_view path, DWORD* serial) {
  std::vector<wchar_t> root(path.size() + 2);
  const std::wstring name(path);
  if (!GetVolumePathNameW(name.c_str(), root.data(),
                          static_cast<DWORD>(root.size())) ||
      !GetVolumeInformationW(root.data(), nullptr, 0, serial, nullptr, nullptr,
                             nullptr, 0)) {
    return std::wstring();
  }
  std::wstring result(root.data());
  while (!result.empty() && result.back() == L'\\')
    result.pop_back();
  return result;
}

std::wstring PathBelowVolumeRoot(HANDLE handle, std::wstring_view opened_as) {
  DWORD handle_serial = 0;
  DWORD root_serial = 0;
  const std::wstring inside = ReadPathInVolume(handle);
  const std::wstring root = VolumeRootOf(opened_as, &root_serial);
  if (inside.empty() || root.empty() || !VolumeSerial(handle, &handle_serial) ||
      handle_serial != root_serial) {
    return std::wstring();
  }
  return root + inside;
}

}  // namespace

std::wstring WithoutLongPrefix(std::wstring_view path) {
  constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
  constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
  if (path.starts_with(kLongUncPrefix))
    return L"\\\\" + std::wstring(path.substr(kLongUncPrefix.size()));
  if (path.starts_with(kLongPrefix))
    return std::wstring(path.substr(kLongPrefix.size()));
  return std::wstring(path);
}

std::wstring GetFinalPath(HANDLE handle, std::wstring_view opened_as) {
  std::wstring path = ReadWholePath(handle);
  if (path.empty()) {
    const DWORD error = GetLastError();
    path = PathBelowVolumeRoot(handle, opened_as);
    if (path.empty())
      LOG(ERROR) << "GetFinalPathNameByHandleW failed, error " << error;
  }
  return path;
}

}  // namespace base
