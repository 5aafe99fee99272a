#include "desktop/windows/installer/security/administrators_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::win::ScopedLocalAlloc<void> Descriptor(const std::wstring& sddl) {
  base::win::ScopedLocalAlloc<void> descriptor;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl.c_str(), SDDL_REVISION_1, descriptor.Receive(), nullptr))
      << sddl;
  return descriptor;
}

std::wstring SidText(PSID sid) {
  base::win::ScopedLocalAlloc<wchar_t> text;
  EXPECT_TRUE(::ConvertSidToStringSidW(sid, text.Receive()));
  return text.Get() ? text.Get() : L"";
}

constexpr wchar_t kUser[] = L"S-1-5-21-1-2-3-1001";
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What the owner and list say, as AdministratorsFolder::Ownership.
struct Said {
  bool administrators;
  bool keeps_entries;
  bool new_folders_keep_entries;
};

// Wine keeps no list on a file, only its Unix mode: the lists are built
// here as the system keeps them.
TEST(AdministratorsFolderTest, OwnershipTellsWhoMayWriteOrReplaceTheFolder) {
  const std::wstring protected_list =
      L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  // Program Files: the creator's entry passes only to what it holds.
  const std::wstring program_files =
      std::wstring(L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;") +
      kTrustedInstaller +
      L")(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)(D;;FA;;;WD)";
  // A volume's root: users may make folders and change what they made.
  const std::wstring root =
      std::wstring(L"O:") + kTrustedInstaller +
      L"D:(A;OICIIO;GA;;;CO)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;SY)"
      L"(A;OICIIO;GA;;;BA)(A;;0x1301bf;;;BA)(A;OICIIO;SDGXGWGR;;;AU)"
      L"(A;;0x4;;;AU)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;BU)";
  // A folder made at such a root inherits the users' right to rename it.
  const std::wstring made_at_root =
      L"D:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)"
      L"(A;OICIIOID;GA;;;SY)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
  const struct {
    const char* label;
    std::wstring sddl;
    // The account this process runs as, when that counts as privileged.
    const wchar_t* trusted_user;
    Said said;
  } kCases[] = {
      {"protected list", L"O:BA" + protected_list, nullptr, {true, true, true}},
      {"owned by SYSTEM", L"O:SY" + protected_list, nullptr,
       {true, true, true}},
      {"Program Files' list", L"O:BA" + program_files, nullptr,
       {true, true, true}},
      // Without the user account control every process of the account runs
      // as an administrator (Wine, whose files are all the user's).
      {"owned by the trusted user",
       std::wstring(L"O:") + kUser + protected_list, kUser, {true, true, true}},
      {"written by the trusted user",
       std::wstring(L"O:BAD:(A;OICI;FA;;;") + kUser + L")", kUser,
       {true, true, true}},
      // Its owner may rewrite the list; a folder made in it is its maker's.
      {"owned by a user", std::wstring(L"O:") + kUser + protected_list,
       nullptr, {false, false, true}},
      // ProgramData passes Users' right to add files to a new folder.
      {"users may add files",
       L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100116;;;BU)", kUser,
       {false, true, true}},
      {"a user may write",
       std::wstring(L"O:BAD:(A;OICI;FA;;;BA)(A;;0x1301bf;;;") + kUser + L")",
       nullptr, {false, false, true}},
      {"everyone may change the list", L"O:BAD:(A;;WD;;;WD)", kUser,
       {false, false, true}},
      {"no list", L"O:BA", nullptr, {false, false, false}},
      // Denials and entries only for the contents let no one in.
      {"a denial and a creator's entry",
       L"O:BAD:(D;;FA;;;WD)(A;OICIIO;GA;;;CO)(A;;FA;;;BA)", nullptr,
       {true, true, true}},
      {"a volume's root", root, nullptr, {false, true, false}},
      {"an administrator's folder at the root", L"O:BA" + made_at_root,
       nullptr, {false, false, false}},
      {"users may delete entries",
       L"O:BAD:(A;OICI;FA;;;BA)(A;;0x100040;;;BU)", nullptr,
       {false, false, true}},
      {"authenticated users have all rights", L"O:SYD:(A;CI;GA;;;AU)",
       nullptr, {false, false, false}},
      {"a new folder would let users delete entries",
       L"O:BAD:(A;OICI;FA;;;BA)(A;CIIO;0x40;;;AU)", nullptr,
       {true, true, false}},
      // Entries passed to files alone make no folder on the way.
      {"new files are the users'", L"O:BAD:(A;OICI;FA;;;BA)(A;OIIO;FA;;;BU)",
       nullptr, {true, true, true}},
  };
  for (const auto& c : kCases) {
    const base::win::ScopedLocalAlloc<void> descriptor = Descriptor(c.sddl);
    const base::win::ScopedLocalAlloc<void> user_descriptor = Descriptor(
        std::wstring(L"O:") + (c.trusted_user ? c.trusted_user : L"SY"));
    PSID trusted_user = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(user_descriptor.Get(),
                                             &trusted_user, &defaulted));
    AdministratorsFolder::Ownership ownership;
    ASSERT_TRUE(AdministratorsFolder::OwnershipOf(
        descriptor.Get(), c.trusted_user ? trusted_user : nullptr, &ownership))
        << c.label;
    EXPECT_EQ(ownership.administrators, c.said.administrators) << c.label;
    EXPECT_EQ(ownership.keeps_entries, c.said.keeps_entries) << c.label;
    EXPECT_EQ(ownership.new_folders_keep_entries,
              c.said.new_folders_keep_entries)
        << c.label;
  }
}

// Read back as the system keeps it, through the folder's own handle.
TEST(AdministratorsFolderTest, ProtectWritesTheAdministratorsList) {
  base::ScopedTempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  const base::FilePath folder = temp.path().Append(L"all users");
  ASSERT_TRUE(::CreateDirectoryW(folder.value().c_str(), nullptr));
  const base::win::ScopedHandle handle(::CreateFileW(
      folder.value().c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(handle.IsValid());

  ASSERT_TRUE(AdministratorsFolder::Protect(handle.Get()));

  base::win::ScopedLocalAlloc<void> descriptor;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(::GetSecurityInfo(
                handle.Get(), SE_FILE_OBJECT,
                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                nullptr, &dacl, nullptr, descriptor.Receive()),
            static_cast<DWORD>(ERROR_SUCCESS));
  base::win::ScopedLocalAlloc<wchar_t> text;
  ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
      text.Receive(), nullptr));
  BYTE user[SECURITY_MAX_SID_SIZE];
  const PSID trusted_user = AdministratorsFolder::ReadTrustedUser(user);
  if (!trusted_user) {
    EXPECT_EQ(std::wstring(text.Get()),
              L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    EXPECT_EQ(SidText(owner), L"S-1-5-32-544");
  } else {
    // Wine keeps a file's access as its Unix mode, owned by the user, and
    // reports the list that mode holds: the user's own.
    EXPECT_EQ(SidText(owner), SidText(trusted_user)) << text.Get();
  }
  AdministratorsFolder::Ownership ownership;
  ASSERT_TRUE(AdministratorsFolder::ReadOwnership(handle.Get(), &ownership));
  EXPECT_TRUE(ownership.trusted_owner);
  EXPECT_TRUE(ownership.administrators);
  EXPECT_TRUE(ownership.keeps_entries);
}

}  // namespace
}  // namespace installer
