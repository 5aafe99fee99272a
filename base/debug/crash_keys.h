#ifndef BASE_DEBUG_CRASH_KEYS_H_
#define BASE_DEBUG_CRASH_KEYS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// One entry of the crash-key table that crash reporting registers. `name`
// must live as long as the process (a literal).
struct CrashKeyRegistration {
  const char* name;
  size_t max_length;
};

// The process-wide registry of crash keys. A value longer than one stored key
// can hold is spread over keys named "<name>-1", "<name>-2", ... . Crash
// reporting registers the table and the store/clear functions once at
// start-up, before any value is set.
class CrashKeys {
 public:
  using SetFunction = void (*)(StringSlice key, StringSlice value);
  using ClearFunction = void (*)(StringSlice key);

  // Replaces the table (the first registration of a name wins) and returns
  // how many stored keys it needs. A null `registrations` drops the table
  // and returns 0.
  static size_t Init(const CrashKeyRegistration* registrations, size_t count,
                     size_t chunk_length);
  static void SetReportingFunctions(SetFunction set, ClearFunction clear);

  // Null when `name` is not registered.
  static const CrashKeyRegistration* Lookup(StringSlice name);

  // Stores `value`, in chunks when the key's maximum exceeds the chunk
  // length; chunks beyond the new value's are cleared. Does nothing until
  // both the table and the set function exist.
  static void SetValue(StringSlice key, StringSlice value);

  // `value` cut to the key's maximum length, in pieces of the chunk length.
  static std::vector<std::string> ChunkValue(
      const CrashKeyRegistration& registration, StringSlice value);
};

}  // namespace base

#endif  // BASE_DEBUG_CRASH_KEYS_H_
