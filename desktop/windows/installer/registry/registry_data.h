#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_DATA_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_DATA_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "desktop/windows/installer/registry/registry_key_record.h"

namespace installer {

// Records one value written under `key_path` of a hive, in the text form the
// install log keeps: the key's record (found by exact UTF-8 bytes, else
// appended) takes the larger clean depth and the value at its end, never
// merged with an earlier one of the same name. `data` holds `size` bytes of
// registry type `type`; strings are kept up to their NUL, DWORDs as eight
// hex digits, binary data as comma-separated hex bytes (nothing for zero
// bytes), other types as no text. `view` holds the REGSAM view bits the
// value was written with; a key is one record per view. Returns the key
// record's index.
size_t AddRegistryValue(RegistryData* registry,
                        const std::wstring& key_path,
                        const std::wstring& value_name,
                        const void* data,
                        uint32_t type,
                        uint32_t size,
                        int32_t clean_depth,
                        uint32_t view = 0);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_DATA_H_
