#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_KEY_RECORD_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_KEY_RECORD_H_

#include <cstdint>
#include <string>
#include <vector>

namespace installer {

// One registry value an installation wrote, as the install log keeps it:
// the type's name ("REG_SZ"), the value name and the data as text, UTF-8.
struct RegistryValueRecord {
  std::string type_name;
  std::string name;
  std::string data;

  bool operator==(const RegistryValueRecord&) const = default;
};

// One key an installation wrote values under, relative to its hive.
struct RegistryKeyRecord {
  int32_t clean_depth = 0;
  std::string key_path;
  std::vector<RegistryValueRecord> values;
  // The registry view the key was written in: 0 for the default view, or
  // KEY_WOW64_32KEY. Removing the key must use the same view, or it misses
  // the key and may hit a namesake in the other view.
  uint32_t view = 0;

  bool operator==(const RegistryKeyRecord&) const = default;
};

// The keys recorded for one hive, in the order they were first written.
using RegistryData = std::vector<RegistryKeyRecord>;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_KEY_RECORD_H_
