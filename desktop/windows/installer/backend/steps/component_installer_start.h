#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_COMPONENT_INSTALLER_START_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_COMPONENT_INSTALLER_START_H_

namespace base {
class CommandLine;
}

namespace installer {

// Starts the component installer of `command_line`, a program that the
// installation's record names (its folder may be the user's to write, and
// the record too). A process that may run elevated starts it only as the
// publisher's, checked, held and started by its pinned path
// (SignedProgramLauncher); one that may not runs it with its user's own
// rights. Not waited for. False (logged) when it was not started.
bool StartComponentInstaller(const base::CommandLine& command_line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_COMPONENT_INSTALLER_START_H_
