#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_TABLE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_TABLE_H_

#include <cstddef>

#include "base/debug/crash_keys.h"

namespace installer {

// Every crash key the product knows, with its longest value. A key longer
// than kCrashKeyChunkLength is stored in chunks "<name>-1", "<name>-2", ...
inline constexpr size_t kCrashKeyChunkLength = 63;
inline constexpr size_t kCrashKeyTableSize = 108;
extern const base::CrashKeyRegistration kCrashKeyTable[kCrashKeyTableSize];

// The first rows are the keys an installer process stores; the rest belong
// to the browser's processes and are registered only so that the table is
// the same everywhere.
inline constexpr size_t kInstallerCrashKeyCount = 54;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_TABLE_H_
