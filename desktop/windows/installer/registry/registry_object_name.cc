#include "desktop/windows/installer/registry/registry_object_name.h"

#include <aclapi.h>
#include <wchar.h>

#include <string_view>

namespace installer {

namespace {

struct RegistryRoot {
  HKEY root;
  std::wstring_view prefix;
};

// Not constexpr: the predefined keys are cast from integers.
const RegistryRoot kRegistryRoots[] = {
    {HKEY_CLASSES_ROOT, L"CLASSES_ROOT"},
    {HKEY_LOCAL_MACHINE, L"MACHINE"},
    {HKEY_CURRENT_USER, L"CURRENT_USER"},
    {HKEY_USERS, L"USERS"},
};

constexpr wchar_t kSeparator = L'\\';

}  // namespace

std::wstring GetRegistryObjectName(HKEY root, const std::wstring& key_path) {
  for (const RegistryRoot& entry : kRegistryRoots) {
    if (entry.root != root)
      continue;
    std::wstring name(entry.prefix);
    if (!key_path.empty())
      name.append(1, kSeparator).append(key_path);
    return name;
  }
  return std::wstring();
}

int GetRegistryObjectType(REGSAM view) {
  return (view & KEY_WOW64_32KEY) ? SE_REGISTRY_WOW64_32KEY : SE_REGISTRY_KEY;
}

bool IsRegistryObjectType(int object_type) {
  return object_type == SE_REGISTRY_KEY ||
         object_type == SE_REGISTRY_WOW64_32KEY;
}

bool ParseRegistryObjectName(const std::wstring& object_name,
                             int object_type,
                             HKEY* root,
                             std::wstring* key_path,
                             REGSAM* view) {
  for (const RegistryRoot& entry : kRegistryRoots) {
    const size_t length = entry.prefix.size();
    if (object_name.size() < length ||
        _wcsnicmp(object_name.c_str(), entry.prefix.data(), length) != 0) {
      continue;
    }
    if (object_name.size() == length) {
      key_path->clear();
    } else if (object_name[length] == kSeparator) {
      key_path->assign(object_name, length + 1);
    } else {
      continue;  // "MACHINEX\..." is no root of ours.
    }
    *root = entry.root;
    *view = object_type == SE_REGISTRY_WOW64_32KEY ? KEY_WOW64_32KEY : 0;
    return true;
  }
  return false;
}

}  // namespace installer
