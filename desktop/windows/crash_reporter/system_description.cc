#include "desktop/windows/crash_reporter/system_description.h"

#include <windows.h>

#include "base/lazy_global.h"
#include "base/strings/string_format.h"

namespace installer {

namespace {

constinit base::LazyGlobalInstance<SystemDescription> g_description(
    base::LazyGlobalLifetime::kDestroyAtExit);

std::string Hex(unsigned value) {
  return base::FormatString("0x%x", value);
}

}  // namespace

SystemDescription::SystemDescription() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  // Deprecated, but the version the process is told is what it ran under.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
#pragma GCC diagnostic pop
    os_version = base::FormatString("%lu.%lu.%lu", version.dwMajorVersion,
                                    version.dwMinorVersion,
                                    version.dwBuildNumber);
    if (version.wServicePackMajor != 0) {
      os_service_pack_version = base::FormatString(
          "%u.%u", version.wServicePackMajor, version.wServicePackMinor);
    }
  }
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  cpu_architecture = Hex(system.wProcessorArchitecture);
  cpu_level = Hex(system.wProcessorLevel);
  cpu_revision = Hex(system.wProcessorRevision);
}

const SystemDescription& GetSystemDescription() {
  return *g_description.Get();
}

}  // namespace installer
