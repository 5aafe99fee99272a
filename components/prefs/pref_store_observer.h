#ifndef COMPONENTS_PREFS_PREF_STORE_OBSERVER_H_
#define COMPONENTS_PREFS_PREF_STORE_OBSERVER_H_

#include "base/strings/string_slice.h"

namespace base {

// Told, on the store's thread, of changes to a preferences store.
class PrefStoreObserver {
 public:
  // The value at `key` changed (or was removed).
  virtual void OnPrefChanged(StringSlice key) = 0;
  // A read finished; false when the file's folder does not exist.
  virtual void OnPrefsLoaded(bool success) = 0;

 protected:
  virtual ~PrefStoreObserver() = default;
};

}  // namespace base

#endif  // COMPONENTS_PREFS_PREF_STORE_OBSERVER_H_
