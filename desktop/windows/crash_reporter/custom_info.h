#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CUSTOM_INFO_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CUSTOM_INFO_H_

#include <cstddef>
#include <cstdint>

namespace installer {

// One crash key as the crash reporter reads it out of a crashed process's
// memory: both texts NUL-terminated inside their 64 units.
struct DumpInfoEntry {
  static constexpr size_t kTextUnits = 64;
  // The longest name or value an entry holds.
  static constexpr size_t kMaxTextLength = kTextUnits - 1;

  wchar_t name[kTextUnits];
  wchar_t value[kTextUnits];
};
static_assert(sizeof(DumpInfoEntry) == 256);

// Where a process keeps its crash keys. The entries must never move: their
// address is announced once to the crash reporter.
struct CustomInfoBlock {
  const DumpInfoEntry* entries = nullptr;
  size_t count = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CUSTOM_INFO_H_
