// A library that carries the installer library's load-time processor check
// with a processor that lacks SSE2. Every step is written to standard output
// as it happens: the processor query, the message box (answered at once) and
// the library's own code, which must never be reached.
//
// Only system calls here: the check runs before the runtime is initialised.

#include <windows.h>

#include "desktop/windows/installer/entry/processor_check.h"

namespace {

void Write(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written,
            nullptr);
}

void WriteWide(const wchar_t* text) {
  char utf8[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8) - 1, nullptr,
                      nullptr);
  Write(utf8);
}

void WriteNumber(unsigned long value) {
  char digits[16] = {};
  wsprintfA(digits, "%lu", value);
  Write(digits);
}

BOOL WINAPI ProcessorWithoutSse2(DWORD feature) {
  Write("query ");
  WriteNumber(feature);
  Write("\n");
  return FALSE;
}

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption,
                            UINT type) {
  Write(owner ? "box owned " : "box unowned ");
  WriteNumber(type);
  Write(" ");
  WriteWide(caption);
  Write(": ");
  WriteWide(text);
  Write("\n");
  return IDOK;
}

// Static initialisers run in the runtime's start-up, after the check.
struct InitialiserProbe {
  InitialiserProbe() { Write("initialiser ran\n"); }
};
InitialiserProbe g_initialiser_probe;

}  // namespace

namespace installer {

ProcessorCheckHooks GetLoadTimeProcessorCheckHooks() {
  return {&ProcessorWithoutSse2, &RecordMessageBox, &ExitProcess};
}

}  // namespace installer

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH)
    Write("entry point reached\n");
  return TRUE;
}
