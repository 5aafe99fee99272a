#include "desktop/windows/installer/crash_reporter_pid.h"

namespace installer {

uint32_t GetCrashReporterPid() {
  // No reporter yet.
  return 0;
}

}  // namespace installer
