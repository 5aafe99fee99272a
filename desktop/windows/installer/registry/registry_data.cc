#include "desktop/windows/installer/registry/registry_data.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {

namespace {

// Indexed by the registry's own type numbers.
constexpr std::string_view kTypeNames[] = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

std::string TypeName(uint32_t type) {
  return type < std::size(kTypeNames) ? std::string(kTypeNames[type])
                                      : std::string();
}

// The size bounds every read: a string whose terminator is missing ends
// with the data rather than past it.
std::string StringText(const void* data, uint32_t size) {
  if (!data)
    return std::string();
  const wchar_t* text = static_cast<const wchar_t*>(data);
  const wchar_t* end = text + size / sizeof(wchar_t);
  return base::WidePieceToUtf8(
      base::WideStringSlice(text, std::find(text, end, L'\0') - text));
}

// Zero bytes have no first byte to write: their text is empty.
std::string BinaryText(const void* data, uint32_t size) {
  std::string text;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; data && i < size; ++i)
    base::AppendFormat(&text, i == 0 ? "%.2x" : ",%.2x", bytes[i]);
  return text;
}

// Fewer than four bytes hold no number, and no text is made up for them.
std::string DwordText(const void* data, uint32_t size) {
  if (!data || size < sizeof(DWORD))
    return std::string();
  DWORD value;
  std::memcpy(&value, data, sizeof(value));
  return base::FormatString("%.8lx", static_cast<unsigned long>(value));
}

std::string DataText(const void* data, uint32_t type, uint32_t size) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return StringText(data, size);
    case REG_BINARY:
      return BinaryText(data, size);
    case REG_DWORD:
      return DwordText(data, size);
    default:
      return std::string();
  }
}

// This library runs as a 64-bit process, so KEY_WOW64_64KEY names its
// default view: only the 32-bit view needs to be told apart.
uint32_t RecordedView(uint32_t view) {
  return view & KEY_WOW64_32KEY;
}

size_t FindOrAddKey(RegistryData* registry,
                    const std::string& key_path,
                    int32_t clean_depth,
                    uint32_t view) {
  // The latest record is the likeliest match: values of a key come together.
  for (size_t i = registry->size(); i-- > 0;) {
    RegistryKeyRecord& key = (*registry)[i];
    if (key.key_path == key_path && key.view == view) {
      key.clean_depth = std::max(key.clean_depth, clean_depth);
      return i;
    }
  }
  registry->push_back({clean_depth, key_path, {}, view});
  return registry->size() - 1;
}

}  // namespace

size_t AddRegistryValue(RegistryData* registry,
                        const std::wstring& key_path,
                        const std::wstring& value_name,
                        const void* data,
                        uint32_t type,
                        uint32_t size,
                        int32_t clean_depth,
                        uint32_t view) {
  size_t index = FindOrAddKey(registry, base::WideToUtf8(key_path), clean_depth,
                              RecordedView(view));
  (*registry)[index].values.push_back({TypeName(type),
                                       base::WideToUtf8(value_name),
                                       DataText(data, type, size)});
  return index;
}

}  // namespace installer
