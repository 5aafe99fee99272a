#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::KeySddl;
using test::ScopedTestKey;
using test::SetKeySddl;

struct AceSummary {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::wstring sid;
};

std::wstring SidText(PSID sid) {
  wchar_t* raw_text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &raw_text))
    return std::wstring();
  const base::win::ScopedLocalAlloc<> text(raw_text);
  return raw_text;
}

std::vector<AceSummary> KeyAces(HKEY root,
                                const std::wstring& path,
                                REGSAM view) {
  std::vector<AceSummary> aces;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key))
    return aces;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  ::GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                    nullptr, &dacl, nullptr, &raw_descriptor);
  const base::win::ScopedLocalAlloc<> descriptor(raw_descriptor);
  ::RegCloseKey(key);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ::GetAce(dacl, i, &ace);
    // Allowed and denied entries share their layout.
    const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    aces.push_back({entry->Header.AceType, entry->Header.AceFlags, entry->Mask,
                    SidText(const_cast<DWORD*>(&entry->SidStart))});
  }
  return aces;
}

std::wstring TokenUserSid() {
  HANDLE token = nullptr;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
  ::CloseHandle(token);
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

constexpr DWORD kSetAndCreate = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

TEST(AccessGrantTest, GrantTakesOnlyTheGrantedBitsOutOfDenyEntriesThatApply) {
  ScopedTestKey key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(key.valid());
  // Everyone may not set values, create subkeys or be notified; a group the
  // process is not in (Guests) may not set values.
  ASSERT_TRUE(SetKeySddl(HKEY_CURRENT_USER, key.path(), 0,
                         L"D:(D;;0x16;;;WD)(D;;0x2;;;BG)(A;;KA;;;WD)"));
  const std::wstring before = KeySddl(HKEY_CURRENT_USER, key.path(), 0);
  const std::wstring name = L"CURRENT_USER\\" + key.path();
  ASSERT_FALSE(CheckAccessToPath(name, SE_REGISTRY_KEY, KEY_SET_VALUE));

  std::unique_ptr<SavedSecurityInfo> saved;
  ASSERT_TRUE(GrantAccessToCurrentUser(name, SE_REGISTRY_KEY, kSetAndCreate,
                                       /*keep_previous=*/true, &saved));
  bool weakened_deny = false;
  bool foreign_deny = false;
  bool grant = false;
  for (const AceSummary& ace : KeyAces(HKEY_CURRENT_USER, key.path(), 0)) {
    if (ace.type == ACCESS_DENIED_ACE_TYPE && ace.sid == L"S-1-1-0")
      weakened_deny = ace.mask == KEY_NOTIFY;
    if (ace.type == ACCESS_DENIED_ACE_TYPE && ace.sid == L"S-1-5-32-546")
      foreign_deny = ace.mask == KEY_SET_VALUE;
    // The token's user by SID, inherited by subkeys.
    if (ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.sid == TokenUserSid()) {
      grant = ace.mask == kSetAndCreate &&
              ace.flags == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    }
  }
  EXPECT_TRUE(weakened_deny);
  EXPECT_TRUE(foreign_deny);
  EXPECT_TRUE(grant);
  EXPECT_TRUE(CheckAccessToPath(name, SE_REGISTRY_KEY, KEY_SET_VALUE));
  EXPECT_FALSE(CheckAccessToPath(name, SE_REGISTRY_KEY, KEY_NOTIFY));

  ASSERT_TRUE(saved);
  EXPECT_EQ(name, saved->object_name);
  EXPECT_EQ(SE_REGISTRY_KEY, saved->object_type);
  EXPECT_TRUE(RestoreSecurityInfo(saved.get()));
  EXPECT_EQ(before, KeySddl(HKEY_CURRENT_USER, key.path(), 0));
}

TEST(AccessGrantTest, InstallFolderGrantKeepsTheListForTheCore) {
  // The installer core grants on its install folder with its flag 1 and
  // writes the kept list back when the run ends. Wine keeps a file's list
  // as Unix mode bits, so the list itself is compared on keys above.
  base::ScopedTempFolder folder;
  const std::wstring path = folder.path().value();
  constexpr DWORD kInstallFolderAccess = 0x1201BF;
  std::unique_ptr<SavedSecurityInfo> saved;
  ASSERT_TRUE(GrantAccessToCurrentUser(path, SE_FILE_OBJECT,
                                       kInstallFolderAccess, true, &saved));
  EXPECT_TRUE(CheckAccessToPath(path, SE_FILE_OBJECT, kInstallFolderAccess));
  ASSERT_TRUE(saved);
  EXPECT_EQ(path, saved->object_name);
  EXPECT_EQ(SE_FILE_OBJECT, saved->object_type);
  EXPECT_TRUE(saved->dacl);
  EXPECT_TRUE(RestoreSecurityInfo(saved.get()));

  // Without keeping, nothing is held, not even a record from before.
  ASSERT_TRUE(GrantAccessToCurrentUser(path, SE_FILE_OBJECT,
                                       kInstallFolderAccess, false, &saved));
  EXPECT_FALSE(saved);
  EXPECT_FALSE(RestoreSecurityInfo(nullptr));
}

TEST(AccessGrantTest, TheThirtyTwoBitViewIsChangedAloneAndGivenBack) {
  ScopedTestKey key(HKEY_LOCAL_MACHINE, 0);
  ASSERT_TRUE(key.valid());
  constexpr wchar_t kLocked[] = L"D:(D;;0x6;;;WD)(A;;KA;;;WD)";
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    ASSERT_TRUE(SetKeySddl(HKEY_LOCAL_MACHINE, key.path(), view, kLocked));
  const std::wstring before_32 =
      KeySddl(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_32KEY);
  const std::wstring before_64 =
      KeySddl(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_64KEY);

  std::unique_ptr<SavedSecurityInfo> saved;
  ASSERT_TRUE(GrantAccessToCurrentUser(L"MACHINE\\" + key.path(),
                                       SE_REGISTRY_WOW64_32KEY, kSetAndCreate,
                                       true, &saved));
  EXPECT_NE(before_32,
            KeySddl(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_32KEY));
  EXPECT_EQ(before_64,
            KeySddl(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_64KEY));
  ASSERT_TRUE(RestoreSecurityInfo(saved.get()));
  EXPECT_EQ(before_32,
            KeySddl(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_32KEY));
  EXPECT_EQ(before_64,
            KeySddl(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_64KEY));
}

TEST(AccessGrantTest, ListThatCannotBeReadIsReachedThroughOwnership) {
  ScopedTestKey key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(key.valid());
  // Owned by the local system; everyone may do anything but read the
  // security. (Wine does not let the take-ownership privilege override a
  // refusal, so the list allows changing the owner.)
  ASSERT_TRUE(SetKeySddl(HKEY_CURRENT_USER, key.path(), 0,
                         L"O:SYD:(D;;RC;;;WD)(A;;KA;;;WD)"));
  ASSERT_TRUE(KeySddl(HKEY_CURRENT_USER, key.path(), 0).empty());

  std::unique_ptr<SavedSecurityInfo> saved;
  ASSERT_TRUE(GrantAccessToCurrentUser(L"CURRENT_USER\\" + key.path(),
                                       SE_REGISTRY_KEY, KEY_QUERY_VALUE, true,
                                       &saved));
  const std::wstring granted = KeySddl(HKEY_CURRENT_USER, key.path(), 0);
  EXPECT_EQ(0u, granted.find(L"O:BA")) << granted;
}

TEST(AccessGrantTest, PrivilegeOutsideTheTokenIsNotEnabled) {
  HANDLE raw_token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(),
                                 TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                 &raw_token));
  EXPECT_TRUE(EnablePrivilege(SE_TAKE_OWNERSHIP_NAME, true, raw_token));
  EXPECT_TRUE(EnablePrivilege(SE_TAKE_OWNERSHIP_NAME, false, raw_token));
  EXPECT_FALSE(EnablePrivilege(L"SeNoSuchPrivilege", true, raw_token));
  ::CloseHandle(raw_token);
}

}  // namespace
}  // namespace installer
