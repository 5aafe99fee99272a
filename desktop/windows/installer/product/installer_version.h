#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_VERSION_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_VERSION_H_

#include <cstdint>
#include <string>

namespace installer {

// The version constants compiled into the library and the product version
// that the branding derives from them.

// "major.minor.build.patch": major is 45 + the branding's major delta; minor
// is the engine's major number when the branding says so, else 0.
std::string BuildVersionString();
// BuildVersionString, computed once.
const std::string& GetVersionString();
int32_t GetMajorVersion();
int32_t GetEngineMajorVersion();
// "build.patch", e.g. "2548.0".
std::string GetInternalVersion();
// The stream this build belongs to, lower case ("developer").
std::string GetStreamName();
std::string GetBuildTimestamp();
// " (Edition <stream>)".
std::string GetEditionString();
// The visible product name, a blank and the stream name.
std::string GetVisibleProductNameWithStream();
int32_t GetBuildNumber();
int32_t GetBuildRevision();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_VERSION_H_
