#ifndef COMPONENTS_PREFS_PREF_STORE_H_
#define COMPONENTS_PREFS_PREF_STORE_H_

#include <cstdint>

#include "base/ref_counted.h"
#include "base/strings/string_slice.h"
#include "base/values.h"

namespace base {

class PrefStoreObserver;

// A dictionary of preferences kept behind dotted keys, which tells its
// observers of changes and keeps itself somewhere. Reference-counted; lives
// on the thread that made it.
class PrefStore : public RefCounted<PrefStore> {
 public:
  // What the last read of the backing file found.
  enum PrefReadError : int32_t {
    READ_OK = 0,
    // Unparsable; set aside as the bad file.
    READ_BAD_JSON = 1,
    // Parsed, but not to an object.
    READ_NOT_DICTIONARY = 2,
    READ_ACCESS_DENIED = 3,
    READ_FILE_ERROR = 4,
    READ_FILE_LOCKED = 5,
    READ_NO_FILE = 6,
    // Unparsable, and an earlier bad file was replaced by it.
    READ_BAD_JSON_AGAIN = 7,
  };

  // A change flag: written only with the next ordinary write or a flush.
  static constexpr uint32_t kLossyWriteFlag = 2;

  virtual void AddObserver(PrefStoreObserver* observer) = 0;
  virtual void RemoveObserver(PrefStoreObserver* observer) = 0;
  virtual bool HasObservers() const = 0;
  virtual bool IsLoaded() const = 0;
  // `out` (may be null) borrows the stored value.
  virtual bool GetValue(StringSlice key, const Value** out) const = 0;
  virtual DictionaryValueOwner CopyValues() const = 0;

  // Stores `value` at `key` and notifies, unless an equal value is there.
  virtual void SetValue(StringSlice key, ValueOwner value, uint32_t flags) = 0;
  // Notifies only when something was removed.
  virtual void RemoveValue(StringSlice key, uint32_t flags) = 0;
  // The stored value itself, to change in place; the caller then calls
  // NotifyValueChanged.
  virtual bool GetWritableValue(StringSlice key, Value** out) = 0;
  virtual void NotifyValueChanged(StringSlice key, uint32_t flags) = 0;
  // SetValue without telling the observers.
  virtual void SetValueQuietly(StringSlice key, ValueOwner value,
                               uint32_t flags) = 0;
  virtual bool IsReadOnly() const = 0;
  virtual int32_t GetReadResult() const = 0;
  // Reads the backing file on the calling thread; the read result.
  virtual int32_t ReadPrefs() = 0;
  // Starts the pending write now, lossy changes included.
  virtual void FlushPendingWrite() = 0;
  virtual void ScheduleLossyWrites() = 0;
  virtual void ClearWritableValues() = 0;

 protected:
  friend class RefCounted<PrefStore>;

  PrefStore() = default;
  virtual ~PrefStore() = default;
};

}  // namespace base

#endif  // COMPONENTS_PREFS_PREF_STORE_H_
