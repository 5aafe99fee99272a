#include "desktop/windows/installer/security/access_permissions.h"

#include <aclapi.h>

#include <tuple>

#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"

namespace installer {

// Callers act on the answer alone (a denied check is an ordinary outcome),
// so nothing here is logged.

namespace {

struct ObjectGenericMapping {
  SE_OBJECT_TYPE object_type;
  GENERIC_MAPPING mapping;  // Read, write, execute, all.
};

constexpr ObjectGenericMapping kGenericMappings[] = {
    {SE_FILE_OBJECT, {0x120089, 0x120116, 0x1200A0, 0x1F01FF}},
    {SE_REGISTRY_KEY, {0x20019, 0x20006, 0x20019, 0xF003F}},
    {SE_REGISTRY_WOW64_32KEY, {0x20019, 0x20006, 0x20019, 0xF003F}},
};

// Room for one privilege: AccessCheck only names privileges for rights
// such as ACCESS_SYSTEM_SECURITY, which the installer never asks for.
constexpr DWORD kPrivilegeSetSize = sizeof(PRIVILEGE_SET);
static_assert(kPrivilegeSetSize == 20);

const GENERIC_MAPPING* FindGenericMapping(int object_type) {
  for (const ObjectGenericMapping& entry : kGenericMappings) {
    if (entry.object_type == object_type)
      return &entry.mapping;
  }
  return nullptr;
}

bool OpenIdentificationToken(base::win::ScopedHandle* identification) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE,
                          &raw_token)) {
    return false;
  }
  base::win::ScopedHandle token(raw_token);
  HANDLE raw_identification = nullptr;
  if (!::DuplicateToken(token.Get(), SecurityIdentification,
                        &raw_identification)) {
    return false;
  }
  identification->Set(raw_identification);
  return true;
}

// The process's token for the checks. It does not change while the
// process runs, and a transaction checks each file it sets aside: made once,
// not four more round trips to Wine's server per file. Should it fail, each
// check makes its own.
HANDLE ProcessIdentificationToken() {
  static const base::win::ScopedHandle token = [] {
    base::win::ScopedHandle identification;
    std::ignore = OpenIdentificationToken(&identification);
    return identification;
  }();
  return token.IsValid() ? token.Get() : nullptr;
}

}  // namespace

bool CheckAccessToPath(const std::wstring& object_name,
                       int object_type,
                       DWORD desired_access) {
  const GENERIC_MAPPING* mapping = FindGenericMapping(object_type);
  if (!mapping)
    return false;
  base::win::ScopedHandle own_token;
  HANDLE token = ProcessIdentificationToken();
  if (!token) {
    if (!OpenIdentificationToken(&own_token))
      return false;
    token = own_token.Get();
  }

  base::win::ScopedLocalAlloc<> descriptor;
  const DWORD error = ReadSecurity(object_name, object_type,
                                   OWNER_SECURITY_INFORMATION |
                                       GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION,
                                   nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS)
    return false;

  GENERIC_MAPPING generic_mapping = *mapping;
  BYTE privileges[kPrivilegeSetSize] = {};
  DWORD privileges_size = sizeof(privileges);
  DWORD granted_access = 0;
  BOOL access_status = FALSE;
  if (!::AccessCheck(descriptor.Get(), token, desired_access,
                     &generic_mapping,
                     reinterpret_cast<PPRIVILEGE_SET>(privileges),
                     &privileges_size, &granted_access, &access_status)) {
    return false;
  }
  return access_status != FALSE;
}

}  // namespace installer
