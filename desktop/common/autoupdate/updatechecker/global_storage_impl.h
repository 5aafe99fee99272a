#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_IMPL_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_IMPL_H_

#include <string>

#include "base/files/file_path.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/common/autoupdate/updatechecker/global_storage_mutex.h"

namespace installer {

// The global storage in the company key of HKEY_CURRENT_USER, or in the
// fallback file for a copy-only installation or a company key that refuses
// writing. While a fallback file exists, registry writes go to it as well.
// Used from one thread at a time.
class GlobalStorageImpl : public GlobalStorage {
 public:
  // Tests pass a mutex name of their own, so that no other process meets it.
  explicit GlobalStorageImpl(
      const wchar_t* mutex_name = kGlobalStorageMutexName);
  GlobalStorageImpl(const GlobalStorageImpl&) = delete;
  GlobalStorageImpl& operator=(const GlobalStorageImpl&) = delete;
  ~GlobalStorageImpl() override;

  // Chooses between the registry and the fallback file, once; later calls
  // do nothing.
  void Initialize(bool is_copy_only);
  bool initialised() const { return initialised_; }

  // GlobalStorage:
  void SetFallbackDirectory(const base::FilePath& folder) override;
  int Write(const std::string& name, const std::string& value) override;
  int Read(const std::string& name, std::string* value) override;

 private:
  // The operations run while the mutex is held.
  int WriteHeld(const std::string& name, const std::string& value);
  int WriteToFile(const std::string& name, const std::string& value);
  int WriteToRegistry(const std::string& name, const std::string& value);
  int DeleteFromRegistry(const std::string& name);
  int ReadFromFile(const std::string& name, std::string* value);
  int ReadFromRegistry(const std::string& name, std::string* value);

  GlobalStorageMutex mutex_;
  base::FilePath fallback_file_;
  bool initialised_ = false;
  bool use_fallback_ = false;
  // A registry write or delete of this process has succeeded.
  bool registry_written_ = false;
  // `SetFallbackDirectory` is copying the file into the registry.
  bool replaying_ = false;
};

}  // namespace installer

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_IMPL_H_
