#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_RUNTIME_CRASH_HANDLERS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_RUNTIME_CRASH_HANDLERS_H_

#include <windows.h>

#include <cstdint>
#include <exception>

namespace installer {

// The process-wide places where a fatal error ends up, as one set that can
// be installed and put back per kind.
struct RuntimeCrashHandlers {
  // Which of them a set is about.
  enum Kind : int {
    kUnhandledException = 1,
    kInvalidParameter = 2,
    // The runtime's pure-call handler. g++ code never calls it: its pure
    // virtual calls, uncaught throws and abort() all end in std::terminate
    // or SIGABRT, which this kind covers as well.
    kPureCall = 4,
    kAll = 7,
  };

  using InvalidParameterHandler = void(__cdecl*)(const wchar_t* expression,
                                                 const wchar_t* function,
                                                 const wchar_t* file,
                                                 unsigned int line,
                                                 uintptr_t reserved);
  using PureCallHandler = void(__cdecl*)();
  using SignalHandler = void(__cdecl*)(int signal);

  LPTOP_LEVEL_EXCEPTION_FILTER exception_filter = nullptr;
  InvalidParameterHandler invalid_parameter = nullptr;
  PureCallHandler pure_call = nullptr;
  std::terminate_handler terminate = nullptr;
  SignalHandler abort_signal = nullptr;
};

// Installs the handlers of `kinds` from `handlers`; returns those it
// replaced (the others stay null). A runtime without the setter for a
// handler (Wine's has none for the invalid-parameter and pure-call ones)
// keeps its own, and that handler reads null.
RuntimeCrashHandlers InstallRuntimeCrashHandlers(
    const RuntimeCrashHandlers& handlers,
    int kinds);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_RUNTIME_CRASH_HANDLERS_H_
