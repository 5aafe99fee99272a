#include "desktop/windows/crash_reporter/crash_key_values.h"

#include <windows.h>

#include <psapi.h>

#include "base/strings/string_format.h"

namespace installer {

namespace {

// Null stands for the process's own executable.
constexpr const char* kReportedModules[] = {
    nullptr,        "tarvo_browser.dll", "tarvo_child.dll", "KernelBase.dll",
    "kernel32.dll", "ntdll.dll",         "user32.dll",      "msvcrt.dll",
};

using GetPolicyFunction = BOOL(WINAPI*)(LPDWORD flags);
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE process, PBOOL wow64);

template <typename Function>
Function GetKernel32Function(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return nullptr;
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, name)));
}

// The text after the last backslash; empty when there is none.
std::string ExecutableName(const std::string& path) {
  const size_t separator = path.rfind('\\');
  if (separator == std::string::npos)
    return std::string();
  return path.substr(separator + 1);
}

void AppendModule(const char* name, std::string* text) {
  HMODULE module = ::GetModuleHandleA(name);
  if (!module)
    return;
  MODULEINFO info = {};
  if (!::GetModuleInformation(::GetCurrentProcess(), module, &info,
                              sizeof(info))) {
    return;
  }
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  // A path of exactly MAX_PATH characters may have been cut.
  if (length == 0 || length == MAX_PATH)
    return;
  const std::string full_path(path, length);
  const std::string module_name = name ? name : ExecutableName(full_path);
  if (module_name.empty())
    return;
  base::AppendFormat(text, "%s:%016llX:%lx:%s::", module_name.c_str(),
                     static_cast<unsigned long long>(
                         reinterpret_cast<uintptr_t>(info.lpBaseOfDll)),
                     static_cast<unsigned long>(info.SizeOfImage),
                     full_path.c_str());
}

}  // namespace

std::string GetModulesCrashKeyValue() {
  std::string text;
  for (const char* name : kReportedModules)
    AppendModule(name, &text);
  return text;
}

std::string GetExceptionPolicyCrashKeyValue() {
  auto get_policy = GetKernel32Function<GetPolicyFunction>(
      "GetProcessUserModeExceptionPolicy");
  DWORD flags = 0;
  if (!get_policy || !get_policy(&flags))
    return std::string();
  return base::FormatString("0x%04lx", static_cast<unsigned long>(flags));
}

std::string GetIsWow64CrashKeyValue() {
  auto is_wow64 = GetKernel32Function<IsWow64ProcessFunction>("IsWow64Process");
  BOOL wow64 = FALSE;
  if (!is_wow64 || !is_wow64(::GetCurrentProcess(), &wow64))
    return std::string();
  return wow64 ? "1" : "0";
}

}  // namespace installer
