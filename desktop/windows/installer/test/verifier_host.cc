// A host executable for the installer library's handle-verifier tests.
// Built twice: with its own exported verifier, as the real hosts have, and
// without one (TARVO_HOST_WITHOUT_VERIFIER). The first argument names a
// scenario; misuse scenarios end in the verifier's fatal trap, which the
// exception filter turns into the exit code.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "base/win/handle_verifier.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product/package_file_names.h"

using base::win::HandleVerifier;
using base::win::ScopedHandle;

#ifndef TARVO_HOST_WITHOUT_VERIFIER
extern "C" __declspec(dllexport) HandleVerifier* GetHandleVerifier() {
  return HandleVerifier::CreateOrFindInstance();
}
#endif

namespace {

using GetHandleVerifierFunction = HandleVerifier* (*)();

LONG WINAPI ExitWithExceptionCode(EXCEPTION_POINTERS* info) {
  fflush(stdout);
  ExitProcess(info->ExceptionRecord->ExceptionCode);
}

HANDLE NewEvent() {
  return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// The library's verifier, asked through its export as any caller would.
HandleVerifier* LibraryVerifier(HMODULE* library) {
  *library = LoadLibraryW(installer::kInstallerLibraryName);
  if (!*library)
    return nullptr;
  auto get = reinterpret_cast<GetHandleVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(*library, "GetHandleVerifier")));
  return get ? get() : nullptr;
}

// Prints which module holds the verifier each side uses.
int ReportVerifiers() {
  HMODULE library = nullptr;
  HandleVerifier* library_verifier = LibraryVerifier(&library);
  if (!library_verifier)
    return 2;
  HandleVerifier* host_verifier = HandleVerifier::CreateOrFindInstance();
  printf("same=%d\n", host_verifier == library_verifier ? 1 : 0);
  printf("host_verifier_module=%s\n",
         host_verifier->GetModule() == GetModuleHandleW(nullptr) ? "host" : "library");
  printf("library_verifier_module=%s\n",
         library_verifier->GetModule() == library ? "library" : "host");
  return 0;
}

// A handle the host owns, tracked again through the library's verifier:
// with one shared table this is caught as a handle tracked twice.
int TrackAcrossModules() {
  HMODULE library = nullptr;
  HandleVerifier* library_verifier = LibraryVerifier(&library);
  if (!library_verifier)
    return 2;
  ScopedHandle owned(NewEvent());
  int other_owner = 0;
  library_verifier->StartTracking(owned.Get(), &other_owner, nullptr, nullptr);
  // Only reached when the library's table cannot see the host's handles.
  library_verifier->StopTracking(owned.Get(), &other_owner, nullptr, nullptr);
  return 0;
}

int TrackTwice() {
  const HANDLE event = NewEvent();
  ScopedHandle first(event);
  ScopedHandle second(event);
  second.Take();
  return 0;
}

// Closed behind the owner's back: the owner's close then fails.
int CloseTwice() {
  ScopedHandle owned(NewEvent());
  CloseHandle(owned.Get());
  owned.Close();
  return 0;
}

int CloseForeign() {
  ScopedHandle owned(NewEvent());
  int other_owner = 0;
  HandleVerifier::StopTrackingHandle(owned.Get(), &other_owner, nullptr, nullptr);
  return 0;
}

// Every ownership change of a scoped handle, which an active verifier must
// accept: moves re-register the handle under its new owner.
int OrderlyLife() {
  const HANDLE event = NewEvent();
  ScopedHandle first(event);
  first.Set(event);
  ScopedHandle second(std::move(first));
  ScopedHandle third;
  third = std::move(second);
  ScopedHandle fourth(third.Take());
  fourth.Set(NewEvent());
  printf("closed=%d\n", WaitForSingleObject(event, 0) == WAIT_FAILED ? 1 : 0);
  return 0;
}

struct Scenario {
  const char* name;
  int (*run)();
};

constexpr Scenario kScenarios[] = {
    {"report", &ReportVerifiers},      {"track-across-modules", &TrackAcrossModules},
    {"track-twice", &TrackTwice},      {"close-twice", &CloseTwice},
    {"close-foreign", &CloseForeign},  {"orderly-life", &OrderlyLife},
};

}  // namespace

int main(int argc, char** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(&ExitWithExceptionCode);
  if (argc < 2)
    return 64;
  for (const Scenario& scenario : kScenarios) {
    if (strcmp(argv[1], scenario.name) == 0) {
      const int result = scenario.run();
      fflush(stdout);
      return result;
    }
  }
  return 64;
}
