#include "desktop/windows/installer/installer_version.h"

#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/installer/branding.h"

namespace installer {
namespace {

constexpr char kEngineVersion[] = "7.3.2201.8";
constexpr int32_t kBuildNumber = 2548;
// A build of the next patch release (the tests' update) sets its own.
#ifndef TARVO_PATCH_NUMBER
#define TARVO_PATCH_NUMBER 0
#endif
constexpr int32_t kPatchNumber = TARVO_PATCH_NUMBER;
constexpr char kStreamName[] = "developer";
constexpr char kBuildTimestamp[] = "20170329_180017";
constexpr int32_t kUniqueBuildNumber = 827998;
constexpr int32_t kBuildRevision = 290110;
constexpr int32_t kMajorBase = 45;

}  // namespace

int32_t GetEngineMajorVersion() {
  const std::string engine(kEngineVersion);
  int32_t major = 0;
  base::StringToInt(engine.substr(0, engine.find('.')), &major);
  return major;
}

int32_t GetMajorVersion() { return GetMajorDelta() + kMajorBase; }

std::string BuildVersionString() {
  const int32_t minor = UseFennicMajorForMinor() ? GetEngineMajorVersion() : 0;
  return base::FormatString("%d.%d.%d.%d", GetMajorVersion(), minor,
                            kBuildNumber, kPatchNumber);
}

const std::string& GetVersionString() {
  static const std::string version = BuildVersionString();
  return version;
}

std::string GetInternalVersion() {
  return base::FormatString("%d.%d", kBuildNumber, kPatchNumber);
}

std::string GetStreamName() { return kStreamName; }
std::string GetBuildTimestamp() { return kBuildTimestamp; }
std::string GetEditionString() {
  return " (Edition " + GetStreamName() + ")";
}
std::string GetVisibleProductNameWithStream() {
  return GetVisibleProductName() + " " + GetStreamName();
}
int32_t GetBuildNumber() { return kUniqueBuildNumber; }
int32_t GetBuildRevision() { return kBuildRevision; }

}  // namespace installer
