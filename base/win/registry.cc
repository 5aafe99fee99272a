#include "base/win/registry.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <limits>
#include <utility>

namespace base::win {

namespace {

// A caller that asks to change a key wants it to exist: such access creates
// the key when it is missing.
constexpr REGSAM kCreatingAccess =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

constexpr DWORD kMaxStringChars = 1024;

// Registry strings need not be terminated, and one that fills the buffer has
// no room left for a terminator: never look past the bytes returned.
std::wstring TextOfValue(const wchar_t* data, DWORD size_in_bytes) {
  return std::wstring(data, wcsnlen(data, size_in_bytes / sizeof(wchar_t)));
}

LONG ExpandText(const std::wstring& text, std::wstring* out) {
  wchar_t expanded[kMaxStringChars];
  const DWORD count =
      ExpandEnvironmentStringsW(text.c_str(), expanded, kMaxStringChars);
  // The count includes the terminator; 0 is a failure and a larger count is
  // the size the expansion would need.
  if (count < 1 || count > kMaxStringChars)
    return ERROR_MORE_DATA;
  out->assign(expanded, wcsnlen(expanded, count));
  return ERROR_SUCCESS;
}

}  // namespace

RegistryKey::RegistryKey() = default;

RegistryKey::RegistryKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  if (!root) {
    view_ = access & kViewMask;
    return;
  }
  if (access & kCreatingAccess)
    Create(root, subkey, access);
  else
    Open(root, subkey, access);
}

RegistryKey::~RegistryKey() {
  Close();
}

LONG RegistryKey::Create(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  const LONG result =
      RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      access, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS)
    Adopt(key, access);
  return result;
}

LONG RegistryKey::Open(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  const LONG result = RegOpenKeyExW(root, subkey, 0, access, &key);
  if (result == ERROR_SUCCESS)
    Adopt(key, access);
  return result;
}

std::vector<std::wstring> RegistryKey::SubkeyNames(size_t max_names) const {
  std::vector<std::wstring> names;
  for (DWORD index = 0; key_ && index < max_names; ++index) {
    // 255 characters is the longest key name the registry keeps.
    wchar_t name[256];
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG result = RegEnumKeyExW(key_, index, name, &length, nullptr,
                                      nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA)
      continue;
    if (result != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  return names;
}

void RegistryKey::Close() {
  if (key_)
    RegCloseKey(key_);
  key_ = nullptr;
  view_ = 0;
}

void RegistryKey::Adopt(HKEY key, REGSAM access) {
  Close();
  key_ = key;
  view_ = access & kViewMask;
}

LONG RegistryKey::ReadDword(const wchar_t* name, DWORD* out) const {
  DWORD value = 0;
  DWORD type = REG_NONE;
  DWORD size = sizeof(value);
  const LONG result = RegQueryValueExW(key_, name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
  if (result != ERROR_SUCCESS)
    return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(value))
    return ERROR_CANTREAD;
  *out = value;
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadText(const wchar_t* name,
                           std::wstring* out,
                           DWORD* type) const {
  wchar_t data[kMaxStringChars];
  DWORD size = sizeof(data);
  const LONG result = RegQueryValueExW(key_, name, nullptr, type,
                                       reinterpret_cast<BYTE*>(data), &size);
  if (result != ERROR_SUCCESS)
    return result;
  if (*type != REG_SZ && *type != REG_EXPAND_SZ)
    return ERROR_CANTREAD;
  *out = TextOfValue(data, std::min<DWORD>(size, sizeof(data)));
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadString(const wchar_t* name, std::wstring* out) const {
  std::wstring text;
  DWORD type = REG_NONE;
  const LONG result = ReadText(name, &text, &type);
  if (result != ERROR_SUCCESS)
    return result;
  if (type == REG_EXPAND_SZ)
    return ExpandText(text, out);
  *out = std::move(text);
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadStoredString(const wchar_t* name,
                                   std::wstring* out) const {
  DWORD type = REG_NONE;
  return ReadText(name, out, &type);
}

LONG RegistryKey::WriteString(const wchar_t* name, const wchar_t* value) {
  const size_t chars = wcslen(value) + 1;
  if (chars > std::numeric_limits<DWORD>::max() / sizeof(wchar_t))
    return ERROR_INVALID_PARAMETER;
  return RegSetValueExW(key_, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(chars * sizeof(wchar_t)));
}

}  // namespace base::win
