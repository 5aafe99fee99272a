#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_SYSTEM_DESCRIPTION_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_SYSTEM_DESCRIPTION_H_

#include <string>

namespace installer {

// The system the reporter runs on, as the crash metadata names it. Made
// once per process, on first use.
struct SystemDescription {
  SystemDescription();

  // "major.minor.build".
  std::string os_version;
  // "major.minor", empty without a service pack.
  std::string os_service_pack_version;
  // "0x" and lower-case hexadecimal.
  std::string cpu_architecture;
  std::string cpu_level;
  std::string cpu_revision;
};

const SystemDescription& GetSystemDescription();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_SYSTEM_DESCRIPTION_H_
