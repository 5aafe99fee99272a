#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_EXCEPTION_INFO_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_EXCEPTION_INFO_H_

#include <cstddef>
#include <cstdint>

#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace installer {

// Where a crashed process keeps its crash for whoever writes its dump from
// outside: the crashing thread, the address of its EXCEPTION_POINTERS (in
// that process) and, for a runtime report, what the runtime said. A
// crashed crash reporter hands its own block's address to the reporter it
// relaunches; an installer client's three parts are read from where it
// announced them on the crash pipe.
struct CrashExceptionInfo {
  uint32_t thread_id;
  uint32_t padding;
  uint64_t exception_pointers;
  // Its type is the kind of crash: an exception, an invalid parameter or a
  // pure call.
  AssertionRecord assertion;
};
static_assert(sizeof(CrashExceptionInfo) == 792);
static_assert(offsetof(CrashExceptionInfo, exception_pointers) == 8);
static_assert(offsetof(CrashExceptionInfo, assertion) == 16);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_EXCEPTION_INFO_H_
