#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// A small per-user store of named strings shared by the browser's
// autoupdate components and the installer: values of the company key under
// HKEY_CURRENT_USER, or, where the registry cannot be used, the file
// "au_global_storage" in the user-data folder. Every access is serialised
// between processes by a named mutex that is never waited for.
class GlobalStorage {
 public:
  // Results of `Write` and `Read`.
  static constexpr int kSuccess = 0;
  // Another process holds the storage; nothing was done. Try again later.
  static constexpr int kBusy = 1;
  static constexpr int kFailure = -252;
  static constexpr int kInvalidArgument = -254;

  // The process-wide storage, destroyed at exit. Its first use decides
  // between the registry and the fallback file for the whole process.
  static GlobalStorage* GetInstance();

  // Points the storage at the fallback file of `folder`, and copies that
  // file's values into the registry when the registry is in use and this
  // process has not written to it yet.
  virtual void SetFallbackDirectory(const base::FilePath& folder) {}
  // Stores `value` under `name`; an empty value deletes the name.
  virtual int Write(const std::string& name, const std::string& value) = 0;
  // `value` receives the stored string, empty when there is none.
  virtual int Read(const std::string& name, std::string* value) = 0;
  virtual ~GlobalStorage() = default;
};

}  // namespace installer

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_
