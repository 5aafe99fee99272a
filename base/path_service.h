#ifndef BASE_PATH_SERVICE_H_
#define BASE_PATH_SERVICE_H_

#include "base/files/file_path.h"

namespace base {

// The folders (and two files) the path service knows. Keys of 1000 and more
// belong to the installer and are answered only through overrides.
enum PathKey : int {
  kCurrentDir = 1,  // Never cached.
  kExeDir = 2,
  kModuleDir = 3,
  kTempDir = 4,
  kHomeDir = 5,
  kExeFile = 6,
  kModuleFile = 7,  // This library.
  kSourceRoot = 8,  // Two levels above kExeDir.
  kDesktop = 9,
  kTestData = 10,  // kSourceRoot\base\test\data, when it exists.

  kWindowsDir = 101,
  kSystemDir = 102,
  kProgramFiles = 103,
  kProgramFilesX86 = 104,
  kProgramFilesNative = 105,
  kInternetCache = 106,
  kCommonStartMenu = 107,
  kStartMenu = 108,
  kAppData = 109,
  kLocalAppData = 110,
  kCommonAppData = 111,
  kAppShortcuts = 112,  // Windows 8 and later.
  kCommonDesktop = 113,
  kQuickLaunch = 114,
  kTaskbarPins = 115,
  kImplicitAppShortcuts = 116,
  kFonts = 117,
};

// The path for `key`: an override when one is set, else the answer of the
// providers, cached for the life of the process. False when the key is
// unknown or its folder cannot be found. Safe on any thread.
bool GetPathForKey(int key, FilePath* result);

// Makes `key` answer `path` from now on and forgets every cached answer.
// With `create`, a missing folder is created with its parents; without
// `is_absolute`, the path is made absolute first.
bool SetPathOverride(int key,
                     const FilePath& path,
                     bool is_absolute,
                     bool create);

// The providers GetPathForKey asks, in this order. Each returns true with
// `result` set when it knows the key and finds its folder, and leaves
// `result` alone otherwise.
bool GetWindowsPath(int key, FilePath* result);
bool GetBasePath(int key, FilePath* result);

}  // namespace base

#endif  // BASE_PATH_SERVICE_H_
