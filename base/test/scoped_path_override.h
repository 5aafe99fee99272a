#ifndef BASE_TEST_SCOPED_PATH_OVERRIDE_H_
#define BASE_TEST_SCOPED_PATH_OVERRIDE_H_

#include "base/files/file_path.h"
#include "base/path_service.h"

namespace base {

// Gives a path key a test's value and then its own back.
class ScopedPathOverride {
 public:
  ScopedPathOverride(int key, const FilePath& path) : key_(key) {
    GetPathForKey(key_, &original_);
    SetPathOverride(key_, path, true, false);
  }
  ScopedPathOverride(const ScopedPathOverride&) = delete;
  ScopedPathOverride& operator=(const ScopedPathOverride&) = delete;
  ~ScopedPathOverride() { SetPathOverride(key_, original_, true, false); }

 private:
  const int key_;
  FilePath original_;
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_PATH_OVERRIDE_H_
