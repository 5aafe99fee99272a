#include "desktop/windows/installer/settings/may_run_elevated.h"

#include "base/command_line.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/system/process_elevation.h"

namespace installer {

bool MayRunElevated() {
  const base::CommandLine* command_line =
      base::CommandLine::ForCurrentProcess();
  return (command_line && ParseBoolSwitchValue(command_line->GetSwitchValueNative(
                              switches::kAllUsers))) ||
         ProcessElevation::ProcessTokenIsElevated();
}

}  // namespace installer
