#include "desktop/windows/crash_reporter/crash_environment.h"

#include <windows.h>

#include <memory>

#include "base/command_line.h"
#include "base/environment.h"
#include "base/strings/string_util.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"

namespace installer {

namespace {

constexpr char kCrashEmailSuffix[] = "CRASH_EMAIL";
constexpr char kKeepLogsSuffix[] = "CRASH_KEEP_LOGS";

constexpr wchar_t kUacPolicyKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kUacEnabledValue[] = L"EnableLUA";

std::string ProductVariableName(const char* suffix) {
  return base::ToUpperAsciiString(GetBrandingProductName()) + "_" + suffix;
}

// With UAC off an administrator's every process has the full token, and no
// process below it passed it its environment. An administrators-only key;
// missing means on, as Windows reads it.
bool IsUacEnabled() {
  base::win::RegistryKey key;
  DWORD enabled = 1;
  if (key.Open(HKEY_LOCAL_MACHINE, kUacPolicyKey, KEY_QUERY_VALUE) ==
      ERROR_SUCCESS) {
    key.ReadDword(kUacEnabledValue, &enabled);
  }
  return enabled != 0;
}

bool IsTokenRaisedByUac() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token))
    return true;  // Untold: judged as the stricter case.
  const base::win::ScopedHandle token(raw_token);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return ::GetTokenInformation(token.Get(), TokenElevationType, &type,
                               sizeof(type), &size) &&
         type == TokenElevationTypeFull && IsUacEnabled();
}

}  // namespace

std::string GetEnvironmentValue(base::StringSlice name) {
  std::string value;
  if (!base::CreateEnvironment()->GetVar(name, &value))
    return std::string();
  return value;
}

bool GetEnvironmentFlag(base::StringSlice name, bool default_value) {
  std::string value;
  if (!base::CreateEnvironment()->GetVar(name, &value))
    return default_value;
  return value == "1" || base::EqualsCaseInsensitiveAscii(value, "YES") ||
         base::EqualsCaseInsensitiveAscii(value, "TRUE");
}

bool MayRunElevated() {
  // Read as the run's settings read it: "--allusers=1", not a bare switch.
  const base::CommandLine* command_line =
      base::CommandLine::ForCurrentProcess();
  return (command_line && ParseBoolSwitchValue(command_line->GetSwitchValueNative(
                              switches::kAllUsers))) ||
         IsTokenRaisedByUac();
}

std::string GetPlaceVariable(base::StringSlice name) {
  return MayRunElevated() ? std::string() : GetEnvironmentValue(name);
}

std::string GetCrashLogDirOverride() {
  return GetPlaceVariable(kCrashLogDirVariable);
}

std::string GetCrashEmailVariableName() {
  return ProductVariableName(kCrashEmailSuffix);
}

std::string GetKeepLogsVariableName() {
  return ProductVariableName(kKeepLogsSuffix);
}

std::string GetCrashEmail() {
  return GetEnvironmentValue(GetCrashEmailVariableName());
}

bool ShouldKeepCrashLogs(bool default_value) {
  return GetEnvironmentFlag(GetKeepLogsVariableName(), default_value);
}

}  // namespace installer
