// The functions the installer library exports to its host, and the hooks of
// its load-time processor check.

#include <cstdint>

#include "base/win/handle_verifier.h"
#include "desktop/windows/installer/entry/installer_main.h"
#include "desktop/windows/installer/entry/processor_check.h"

// One handle table per process: a host that exports its own verifier gets
// it back here, so handles passed across the boundary stay tracked.
extern "C" __declspec(dllexport) base::win::HandleVerifier* GetHandleVerifier() {
  return base::win::HandleVerifier::CreateOrFindInstance();
}

// The entry of every installer process; installer_result.h says what the
// result means.
extern "C" __declspec(dllexport) uint8_t RunInstaller() {
  return installer::RunInstaller();
}

namespace installer {

ProcessorCheckHooks GetLoadTimeProcessorCheckHooks() {
  return GetSystemProcessorCheckHooks();
}

}  // namespace installer
