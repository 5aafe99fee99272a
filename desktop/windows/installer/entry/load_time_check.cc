// The processor check of the installer library, run by the loader before
// the library's entry point.
//
// The entry point is the runtime's start-up code, which applies relocations
// and runs every static initialiser before anything of ours; the only code
// the loader runs earlier is a TLS callback, so the check is one. Its slot
// ".CRT$XLB" sorts before the runtime's own TLS callbacks (".CRT$XLC" on),
// which makes it the first code of the library to run.

#include <windows.h>

#include "desktop/windows/installer/entry/processor_check.h"

namespace installer {
namespace {

void NTAPI CheckProcessorOnLoad(PVOID module, DWORD reason, PVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH)
    EnsureProcessorSupportsSse2(GetLoadTimeProcessorCheckHooks());
}

}  // namespace
}  // namespace installer

// `used`: nothing refers to the slot; the loader finds it through the TLS
// directory, which the runtime's TLS support puts in every image.
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK tarvo_processor_check_callback =
    installer::CheckProcessorOnLoad;
