// The branding stand-in "_tvautolib.pyd": its resource is all that may be
// used. Should the library ever be run rather than read, the process ends
// with an exit code the tests look for.

#include <windows.h>

constexpr UINT kCodeRanExitCode = 66;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH)
    ExitProcess(kCodeRanExitCode);
  return TRUE;
}
