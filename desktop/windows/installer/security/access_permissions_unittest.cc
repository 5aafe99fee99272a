#include "desktop/windows/installer/security/access_permissions.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "base/test/scoped_registry_override.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using ScopedDescriptor = base::win::ScopedLocalAlloc<>;

ScopedDescriptor DescriptorFromSddl(const wchar_t* sddl) {
  ScopedDescriptor descriptor;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl, SDDL_REVISION_1, descriptor.Receive(), nullptr);
  return descriptor;
}

// Everyone may only read; everyone may do everything.
constexpr wchar_t kReadOnlyFolder[] = L"D:P(A;OICI;FR;;;WD)";
constexpr wchar_t kOpenFolder[] = L"D:P(A;OICI;FA;;;WD)";
// What the installer asks of an installation folder.
constexpr DWORD kInstallFolderAccess = 0x1201BF;

TEST(AccessPermissionsTest, FolderAccessFollowsItsAccessList) {
  // Wine keeps a file's access list and AccessCheck honours it, although
  // CreateFile would not; the check is what the installer relies on.
  base::ScopedTempFolder folder;
  const std::wstring& path = folder.path().value();
  const struct {
    const wchar_t* sddl;
    DWORD desired_access;
    bool granted;
  } kCases[] = {
      {kReadOnlyFolder, FILE_GENERIC_READ, true},
      {kReadOnlyFolder, FILE_ADD_FILE, false},
      {kReadOnlyFolder, kInstallFolderAccess, false},
      {kOpenFolder, kInstallFolderAccess, true},
      {kOpenFolder, FILE_ALL_ACCESS, true},
  };
  for (const auto& c : kCases) {
    ScopedDescriptor descriptor = DescriptorFromSddl(c.sddl);
    ASSERT_TRUE(descriptor);
    ASSERT_TRUE(::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION,
                                   descriptor.Get()));
    EXPECT_EQ(c.granted,
              CheckAccessToPath(path, SE_FILE_OBJECT, c.desired_access))
        << c.sddl << " " << c.desired_access;
  }
  EXPECT_FALSE(CheckAccessToPath(folder.path().Append(L"missing").value(),
                                 SE_FILE_OBJECT, FILE_GENERIC_READ));
}

TEST(AccessPermissionsTest, RegistryDenyEntryRefusesWriting) {
  base::win::ScopedRegistryOverride override_hkcu(HKEY_CURRENT_USER);
  ASSERT_TRUE(override_hkcu.Valid());
  base::win::RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Create(HKEY_CURRENT_USER, L"Software\\Locked", KEY_ALL_ACCESS));
  // Denies setting values and creating subkeys only: KEY_WRITE would also
  // deny READ_CONTROL, which reading needs.
  ScopedDescriptor descriptor =
      DescriptorFromSddl(L"D:P(D;;0x6;;;WD)(A;;KA;;;WD)");
  ASSERT_TRUE(descriptor);
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(key.Handle(), DACL_SECURITY_INFORMATION,
                                descriptor.Get()));
  key.Close();

  base::win::RegistryKey open;
  ASSERT_EQ(ERROR_SUCCESS,
            open.Create(HKEY_CURRENT_USER, L"Software\\Open", KEY_ALL_ACCESS));
  open.Close();

  // Both views: the installer's Uninstall entry lives in the 32-bit one,
  // whose security Wine does not give by name.
  const struct {
    const wchar_t* name;
    DWORD desired_access;
    bool granted;
  } kCases[] = {
      {L"CURRENT_USER\\Software\\Locked", KEY_READ, true},
      {L"CURRENT_USER\\Software\\Locked", KEY_SET_VALUE, false},
      {L"CURRENT_USER\\Software\\Locked", KEY_ALL_ACCESS, false},
      {L"CURRENT_USER\\Software\\Open", KEY_QUERY_VALUE | KEY_SET_VALUE, true},
      {L"CURRENT_USER\\Software\\Missing", KEY_READ, false},
  };
  for (const int object_type : {SE_REGISTRY_KEY, SE_REGISTRY_WOW64_32KEY}) {
    for (const auto& c : kCases) {
      EXPECT_EQ(c.granted,
                CheckAccessToPath(c.name, object_type, c.desired_access))
          << c.name << " " << c.desired_access << " type " << object_type;
    }
  }
  // The registry itself agrees.
  EXPECT_EQ(ERROR_SUCCESS,
            key.Open(HKEY_CURRENT_USER, L"Software\\Locked", KEY_READ));
  key.Close();
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            key.Open(HKEY_CURRENT_USER, L"Software\\Locked", KEY_SET_VALUE));
}

TEST(AccessPermissionsTest, UnsupportedObjectTypeIsRefused) {
  base::ScopedTempFolder folder;
  EXPECT_TRUE(CheckAccessToPath(folder.path().value(), SE_FILE_OBJECT,
                                FILE_GENERIC_READ));
  EXPECT_FALSE(
      CheckAccessToPath(folder.path().value(), SE_SERVICE, FILE_GENERIC_READ));
  EXPECT_FALSE(CheckAccessToPath(folder.path().value(), SE_KERNEL_OBJECT,
                                 FILE_GENERIC_READ));
}

}  // namespace
}  // namespace installer
