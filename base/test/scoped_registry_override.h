#ifndef BASE_TEST_SCOPED_REGISTRY_OVERRIDE_H_
#define BASE_TEST_SCOPED_REGISTRY_OVERRIDE_H_

#include <windows.h>

#include <string>

#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"

namespace base::win {

// Points a predefined root (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE) of this
// process at a fresh key under HKCU\Software\TarvoTest, so that a test
// writes nothing to the real hive; the key is deleted on destruction.
class ScopedRegistryOverride {
 public:
  explicit ScopedRegistryOverride(HKEY root) : root_(root) {
    path_ = L"Software\\TarvoTest\\" + Utf8ToWide(GenerateGuidText());
    if (key_.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS) !=
            ERROR_SUCCESS ||
        RegOverridePredefKey(root_, key_.Handle()) != ERROR_SUCCESS) {
      key_.Close();
    }
  }
  ScopedRegistryOverride(const ScopedRegistryOverride&) = delete;
  ScopedRegistryOverride& operator=(const ScopedRegistryOverride&) = delete;

  ~ScopedRegistryOverride() {
    // Back to the real root first: the paths below are of the real hive.
    RegOverridePredefKey(root_, nullptr);
    key_.Close();
    // The shared parent stays: deleted while empty, it would make another
    // process's creation of its own key below it fail.
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }

  bool Valid() const { return key_.Valid(); }

 private:
  const HKEY root_;
  std::wstring path_;
  RegistryKey key_;
};

}  // namespace base::win

#endif  // BASE_TEST_SCOPED_REGISTRY_OVERRIDE_H_
