#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_ENTRY_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_ENTRY_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace installer {

class Operation;
class PlaceholderResolver;

// Kinds of a registry entry beyond the value types REG_NONE to REG_DWORD.
inline constexpr int32_t kRemoveValue = -1;
inline constexpr int32_t kDeleteKey = -2;  // With all its subkeys.

// The root keys an entry is written under.
enum class RootFilter { kAnyRoot, kLocalMachineOnly, kCurrentUserOnly };

// The data of an entry: none, a wide string with placeholders (REG_SZ and
// REG_EXPAND_SZ; none stands for the empty string), a narrow string whose
// bytes without the NUL are the value (REG_BINARY), or the number of a
// REG_DWORD.
using RegistryEntryData =
    std::variant<std::monostate, const wchar_t*, const char*, uint32_t>;

// One row of a static table of registry entries; placeholders in braces
// stand for what depends on the installation.
struct RegistryEntryDescription {
  const wchar_t* key;         // Relative to the root key.
  const wchar_t* value_name;  // Null for the key's default value.
  int32_t kind;               // A value type, kRemoveValue or kDeleteKey.
  RegistryEntryData data;
  // The entry applies from this Windows version index on.
  int32_t min_windows_version;
  RootFilter root;
  // The entry applies to builds of this release channel and above.
  int32_t min_channel;
  // How much of the key an uninstallation removes, as the install log keeps
  // it.
  int32_t clean_depth;
  uint32_t view;  // REGSAM view bits: 0 or KEY_WOW64_32KEY.
};

// One row paired with the resolver of its placeholders: turns the row into
// the registry operation for a root key, and notes the value it will write
// where the resolver says.
class RegistryEntry {
 public:
  // `resolver` must outlive the entry.
  RegistryEntry(const RegistryEntryDescription& description,
                PlaceholderResolver* resolver);

  // False only for a kind that is not known. True with no operation when the
  // row does not apply to `root`, this Windows version or this build.
  bool CreateOperation(HKEY root, std::unique_ptr<Operation>* operation);
  // Every "{name}" replaced by the resolver's value for `name`, left to
  // right; a replacement is never scanned again. Null gives the empty text.
  std::wstring ExpandPlaceholders(const wchar_t* text) const;

 private:
  bool AppliesTo(HKEY root) const;
  // The bytes of the value; false for a kind that is not known.
  bool BuildData(std::vector<uint8_t>* data) const;

  const RegistryEntryDescription description_;
  PlaceholderResolver* const resolver_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_ENTRY_H_
