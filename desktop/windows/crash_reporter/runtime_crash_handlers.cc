#include "desktop/windows/crash_reporter/runtime_crash_handlers.h"

#include <csignal>

namespace installer {

namespace {

using SetInvalidParameterFunction =
    RuntimeCrashHandlers::InvalidParameterHandler(__cdecl*)(
        RuntimeCrashHandlers::InvalidParameterHandler handler);
using SetPureCallFunction = RuntimeCrashHandlers::PureCallHandler(__cdecl*)(
    RuntimeCrashHandlers::PureCallHandler handler);

// Looked up at run time: linking to them would keep the library from
// loading where the runtime lacks them.
template <typename Function>
Function GetRuntimeFunction(const char* name) {
  HMODULE runtime = ::GetModuleHandleW(L"msvcrt.dll");
  if (!runtime)
    return nullptr;
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(runtime, name)));
}

}  // namespace

RuntimeCrashHandlers InstallRuntimeCrashHandlers(
    const RuntimeCrashHandlers& handlers,
    int kinds) {
  RuntimeCrashHandlers previous;
  if (kinds & RuntimeCrashHandlers::kUnhandledException) {
    previous.exception_filter =
        ::SetUnhandledExceptionFilter(handlers.exception_filter);
  }
  if (kinds & RuntimeCrashHandlers::kInvalidParameter) {
    if (auto set = GetRuntimeFunction<SetInvalidParameterFunction>(
            "_set_invalid_parameter_handler")) {
      previous.invalid_parameter = set(handlers.invalid_parameter);
    }
  }
  if (kinds & RuntimeCrashHandlers::kPureCall) {
    if (auto set =
            GetRuntimeFunction<SetPureCallFunction>("_set_purecall_handler")) {
      previous.pure_call = set(handlers.pure_call);
    }
    previous.terminate = std::set_terminate(handlers.terminate);
    const RuntimeCrashHandlers::SignalHandler replaced = std::signal(
        SIGABRT, handlers.abort_signal ? handlers.abort_signal : SIG_DFL);
    // Null stands for the default action.
    if (replaced != SIG_ERR && replaced != SIG_DFL)
      previous.abort_signal = replaced;
  }
  return previous;
}

}  // namespace installer
