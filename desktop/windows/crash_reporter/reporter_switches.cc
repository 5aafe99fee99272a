#include "desktop/windows/crash_reporter/reporter_switches.h"

#include <limits>
#include <string>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/installer/product/role_switches.h"

namespace installer {

namespace {

bool ParseUint32Switch(const char* name, uint32_t* result) {
  const base::CommandLine* command_line =
      base::CommandLine::ForCurrentProcess();
  if (!command_line->HasSwitch(name))
    return false;
  uint64_t value = 0;
  if (!base::StringToUint64(command_line->GetSwitchValueASCII(name), &value) ||
      value > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  *result = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool ParseParentProcessId(uint32_t* parent_pid) {
  return ParseUint32Switch(switches::kCrashReporterParentId, parent_pid);
}

bool ParseExceptionEventId(uint32_t* event_id) {
  return ParseUint32Switch(kCrashReporterExceptionEventSwitch, event_id);
}

}  // namespace installer
