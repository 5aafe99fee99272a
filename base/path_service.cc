#include "base/path_service.h"

#include <shlobj.h>
#include <windows.h>

#include <map>
#include <string>

#include "base/files/file_util.h"
#include "base/lazy_global.h"
#include "base/threading/lock.h"
#include "base/win/scoped_co_mem.h"
#include "base/win/windows_version.h"

// The image base of the module this code is linked into (the linker's own
// symbol): the handle of "this library" for GetModuleFileNameW.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {

namespace {

// The longest path Windows can hand back, in characters.
constexpr DWORD kMaxModulePathLength = 32768;

// {A3918781-E5F2-4890-B3D9-A7E54332328C}
constexpr GUID kFolderIdApplicationShortcuts = {
    0xA3918781,
    0xE5F2,
    0x4890,
    {0xB3, 0xD9, 0xA7, 0xE5, 0x43, 0x32, 0x32, 0x8C}};

struct ShellFolderKey {
  int key;
  int csidl;
};

// Keys answered by one shell folder each.
constexpr ShellFolderKey kShellFolderKeys[] = {
    {kDesktop, CSIDL_DESKTOPDIRECTORY},
    {kProgramFiles, CSIDL_PROGRAM_FILES},
    {kProgramFilesNative, CSIDL_PROGRAM_FILES},
    {kInternetCache, CSIDL_INTERNET_CACHE},
    {kCommonStartMenu, CSIDL_COMMON_PROGRAMS},
    {kStartMenu, CSIDL_PROGRAMS},
    {kAppData, CSIDL_APPDATA},
    {kLocalAppData, CSIDL_LOCAL_APPDATA},
    {kCommonAppData, CSIDL_COMMON_APPDATA},
    {kCommonDesktop, CSIDL_COMMON_DESKTOPDIRECTORY},
    {kFonts, CSIDL_FONTS},
};

struct DerivedKey {
  int key;
  int base_key;
  const wchar_t* relative_path;
};

// Keys answered by a path below another key's answer.
constexpr DerivedKey kDerivedKeys[] = {
    {kQuickLaunch, kAppData, L"Microsoft\\Internet Explorer\\Quick Launch"},
    {kTaskbarPins, kQuickLaunch, L"User Pinned\\TaskBar"},
    {kImplicitAppShortcuts, kQuickLaunch, L"User Pinned\\ImplicitAppShortcuts"},
};

using PathProvider = bool (*)(int key, FilePath* result);
constexpr PathProvider kProviders[] = {GetWindowsPath, GetBasePath};

struct PathData {
  Lock lock;
  std::map<int, FilePath> cache;
  std::map<int, FilePath> overrides;
};

constinit LazyGlobalInstance<PathData> g_path_data(LazyGlobalLifetime::kLeaky);

// A full path is never cut short: a truncated one would be cached and handed
// out for the life of the process.
bool GetModulePath(HMODULE module, FilePath* result) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(
        module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      *result = FilePath(buffer);
      return true;
    }
    if (buffer.size() >= kMaxModulePathLength)
      return false;
    buffer.resize(buffer.size() * 2);
  }
}

bool GetShellFolder(int csidl, FilePath* result) {
  wchar_t buffer[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT,
                                buffer))) {
    return false;
  }
  *result = FilePath(buffer);
  return true;
}

bool GetSystemFolder(UINT(WINAPI* get_folder)(LPWSTR, UINT), FilePath* result) {
  wchar_t buffer[MAX_PATH];
  const UINT length = get_folder(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  *result = FilePath(buffer);
  return true;
}

bool GetAppShortcutsFolder(FilePath* result) {
  if (win::GetWindowsVersion() < win::kVersionWin8)
    return false;
  win::ScopedCoMem<wchar_t> path;
  if (FAILED(::SHGetKnownFolderPath(kFolderIdApplicationShortcuts, 0, nullptr,
                                    path.Receive()))) {
    return false;
  }
  *result = FilePath(path.Get());
  return true;
}

// The parent of another key's answer, `levels` times over; fails with it.
bool GetAncestorOfKey(int key, int levels, FilePath* result) {
  FilePath path;
  if (!GetPathForKey(key, &path))
    return false;
  for (int level = 0; level < levels; ++level)
    path = path.DirName();
  *result = path;
  return true;
}

bool GetDerivedPath(const DerivedKey& derived, FilePath* result) {
  FilePath base_path;
  if (!GetPathForKey(derived.base_key, &base_path))
    return false;
  *result = base_path.Append(derived.relative_path);
  return true;
}

bool AskProviders(int key, FilePath* result) {
  for (PathProvider provider : kProviders) {
    if (provider(key, result))
      return true;
  }
  return false;
}

}  // namespace

bool GetPathForKey(int key, FilePath* result) {
  if (key == kCurrentDir)
    return GetCurrentDirectory(result);
  PathData* data = g_path_data.Get();
  {
    AutoLock lock(data->lock);
    if (auto cached = data->cache.find(key); cached != data->cache.end()) {
      *result = cached->second;
      return true;
    }
    if (auto found = data->overrides.find(key);
        found != data->overrides.end()) {
      data->cache[key] = found->second;
      *result = found->second;
      return true;
    }
  }
  // Providers run without the lock: they ask for other keys themselves.
  FilePath path;
  if (!AskProviders(key, &path) || path.empty())
    return false;
  if (path.ReferencesParent()) {
    path = MakeAbsoluteFilePath(path);
    if (path.empty())
      return false;
  }
  *result = path;
  AutoLock lock(data->lock);
  data->cache[key] = path;
  return true;
}

bool SetPathOverride(int key,
                     const FilePath& path,
                     bool is_absolute,
                     bool create) {
  if (create && !PathExists(path) && !CreateDirectoryAndGetError(path, nullptr))
    return false;
  FilePath override_path = path;
  if (!is_absolute) {
    override_path = MakeAbsoluteFilePath(path);
    if (override_path.empty())
      return false;
  }
  PathData* data = g_path_data.Get();
  AutoLock lock(data->lock);
  // Answers derived from the old value (kQuickLaunch from kAppData) are stale.
  data->cache.clear();
  data->overrides[key] = override_path;
  return true;
}

bool GetWindowsPath(int key, FilePath* result) {
  for (const ShellFolderKey& folder : kShellFolderKeys) {
    if (folder.key == key)
      return GetShellFolder(folder.csidl, result);
  }
  for (const DerivedKey& derived : kDerivedKeys) {
    if (derived.key == key)
      return GetDerivedPath(derived, result);
  }
  switch (key) {
    case kExeFile:
      return GetModulePath(nullptr, result);
    case kModuleFile:
      return GetModulePath(reinterpret_cast<HMODULE>(&__ImageBase), result);
    case kSourceRoot:
      return GetAncestorOfKey(kExeDir, 2, result);
    case kWindowsDir:
      return GetSystemFolder(::GetWindowsDirectoryW, result);
    case kSystemDir:
      return GetSystemFolder(::GetSystemDirectoryW, result);
    case kProgramFilesX86:
      // A 32-bit system has only the one program files folder.
      return GetShellFolder(win::GetWindowsVersionInfo().architecture() ==
                                    win::WindowsVersionInfo::kArchitectureX86
                                ? CSIDL_PROGRAM_FILES
                                : CSIDL_PROGRAM_FILESX86,
                            result);
    case kAppShortcuts:
      return GetAppShortcutsFolder(result);
    default:
      return false;
  }
}

bool GetBasePath(int key, FilePath* result) {
  switch (key) {
    case kExeDir:
      return GetAncestorOfKey(kExeFile, 1, result);
    case kModuleDir:
      return GetAncestorOfKey(kModuleFile, 1, result);
    case kTempDir:
      return GetTempDir(result);
    case kHomeDir:
      *result = GetHomeDir();
      return true;
    case kTestData: {
      FilePath source_root;
      if (!GetPathForKey(kSourceRoot, &source_root))
        return false;
      const FilePath test_data =
          source_root.Append(L"base").Append(L"test").Append(L"data");
      if (!PathExists(test_data))
        return false;
      *result = test_data;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace base
