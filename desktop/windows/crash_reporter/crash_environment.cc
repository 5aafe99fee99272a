#include "desktop/windows/crash_reporter/crash_environment.h"

#include "base/environment.h"
#include "base/strings/string_util.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"

namespace installer {

namespace {

constexpr char kCrashEmailSuffix[] = "CRASH_EMAIL";
constexpr char kKeepLogsSuffix[] = "CRASH_KEEP_LOGS";

std::string ProductVariableName(const char* suffix) {
  return base::ToUpperAsciiString(GetBrandingProductName()) + "_" + suffix;
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
