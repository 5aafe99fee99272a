#include "desktop/windows/installer/backend/steps/component_installer_start.h"

#include "base/command_line.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"

namespace installer {

bool StartComponentInstaller(const base::CommandLine& command_line) {
  if (!MayRunElevated()) {
    if (base::LaunchProcessForCommandLine(command_line, {}).IsValid())
      return true;
    PLOG(ERROR) << "Could not start " << command_line.GetProgram().AsUTF8();
    return false;
  }
  // A component is of another release, whose publisher may have renewed its
  // certificate since this build.
  SignedProgramLauncher launcher;
  if (!launcher.Hold(command_line.GetProgram(),
                     SignedProgramLauncher::Files::kProgram,
                     SignedProgramLauncher::Identity::kPublisher)) {
    return false;
  }
  if (launcher.Launch(command_line, {}).IsValid())
    return true;
  PLOG(ERROR) << "Could not start " << command_line.GetProgram().AsUTF8();
  return false;
}

}  // namespace installer
