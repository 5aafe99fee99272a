#include "desktop/windows/installer/product/installer_version.h"

#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/installer/product/branding.h"

// A build may name another build number, patch or stream: the packages of
// the tests and the demo of the next patch release (an update), an older
// release and another stream's are built so.
#ifndef TARVO_BUILD_NUMBER
#define TARVO_BUILD_NUMBER 2548
#endif
#ifndef TARVO_PATCH_NUMBER
#define TARVO_PATCH_NUMBER 0
#endif
#ifndef TARVO_STREAM_NAME
#define TARVO_STREAM_NAME "developer"
#endif

namespace installer {
namespace {

constexpr char kEngineVersion[] = "7.3.2201.8";
constexpr int32_t kBuildNumber = TARVO_BUILD_NUMBER;
constexpr int32_t kPatchNumber = TARVO_PATCH_NUMBER;
constexpr char kStreamName[] = TARVO_STREAM_NAME;
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
