#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_PROCESSOR_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_PROCESSOR_CHECK_H_

#include <windows.h>

namespace installer {

// The system functions the processor check calls, so that tests can run its
// refusal without a real box or a real exit.
struct ProcessorCheckHooks {
  BOOL(WINAPI* is_processor_feature_present)(DWORD feature);
  int(WINAPI* message_box)(HWND owner, LPCWSTR text, LPCWSTR caption,
                           UINT type);
  void(WINAPI* exit_process)(UINT exit_code);
};

// Read from the import table at each call: a global initialised with these
// addresses would be filled in only by the runtime's start-up code, which
// has not run when the check does.
ProcessorCheckHooks GetSystemProcessorCheckHooks();

// Without SSE2, tells the user and ends the process with exit code 1. Runs
// before the runtime is initialised: only system calls through `hooks`.
void EnsureProcessorSupportsSse2(const ProcessorCheckHooks& hooks);

// The hooks of the check that runs while the library loads
// (load_time_check.cc). Each module that carries the check defines them:
// the installer library gives the system's functions, a test library fakes.
ProcessorCheckHooks GetLoadTimeProcessorCheckHooks();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_PROCESSOR_CHECK_H_
