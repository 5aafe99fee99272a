#include "desktop/windows/crash_reporter/reporter_switches.h"

#include <limits>
#include <string>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/installer/product/role_switches.h"

namespace installer {

bool ParseParentProcessId(uint32_t* parent_pid) {
  const base::CommandLine* command_line =
      base::CommandLine::ForCurrentProcess();
  if (!command_line->HasSwitch(switches::kCrashReporterParentId))
    return false;
  uint64_t pid = 0;
  if (!base::StringToUint64(
          command_line->GetSwitchValueASCII(switches::kCrashReporterParentId),
          &pid) ||
      pid > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  *parent_pid = static_cast<uint32_t>(pid);
  return true;
}

}  // namespace installer
