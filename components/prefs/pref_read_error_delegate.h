#ifndef COMPONENTS_PREFS_PREF_READ_ERROR_DELEGATE_H_
#define COMPONENTS_PREFS_PREF_READ_ERROR_DELEGATE_H_

#include <cstdint>

namespace base {

// Hears, once the store is loaded, that its file did not read cleanly.
class PrefReadErrorDelegate {
 public:
  virtual ~PrefReadErrorDelegate() = default;

  // `code` is a `PrefStore::PrefReadError` other than READ_OK.
  virtual void OnReadError(int32_t code) = 0;
};

}  // namespace base

#endif  // COMPONENTS_PREFS_PREF_READ_ERROR_DELEGATE_H_
