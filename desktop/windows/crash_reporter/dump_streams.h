#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_STREAMS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_STREAMS_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace installer {

// The user streams of our own that every crash dump carries.
inline constexpr uint32_t kInformationStreamType = 0x47670001;
// The AssertionRecord, when the crash was a runtime report.
inline constexpr uint32_t kAssertionStreamType = 0x47670002;

// Which threads the dump is about.
struct DumpInformationStream {
  // Both ids valid.
  static constexpr uint32_t kThreadIdsValid = 3;

  uint32_t validity;
  uint32_t dump_thread_id;
  uint32_t requesting_thread_id;
};
static_assert(sizeof(DumpInformationStream) == 12);

// The lower-case 36-character text of `guid` that names a dump file.
std::wstring GuidToDumpId(const GUID& guid);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_STREAMS_H_
