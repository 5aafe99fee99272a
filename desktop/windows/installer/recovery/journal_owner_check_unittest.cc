#include "desktop/windows/installer/recovery/journal_owner_check.h"

#include <windows.h>

#include <sddl.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/test/scoped_temp_folder.h"
#include "base/test/text_file.h"
#include "desktop/windows/installer/test/scoped_token_rights.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct LocalFreer {
  void operator()(void* block) const { ::LocalFree(block); }
};
using ScopedDescriptor = std::unique_ptr<void, LocalFreer>;

ScopedDescriptor Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                         &raw, nullptr);
  return ScopedDescriptor(raw);
}

// The user of the cases: any ordinary account.
constexpr wchar_t kUser[] = L"O:S-1-5-21-1-2-3-1001";
constexpr wchar_t kOtherUser[] = L"O:S-1-5-21-1-2-3-1002";
// Program Files: the administrators, the system and the installer service
// write; users read and run; the creator's entry only passes to what the
// folder holds.
constexpr wchar_t kAdminOnlyFolder[] =
    L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"
    L"(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-"
    L"2271478464)(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)(D;;FA;;;WD)";
// A folder under C:\: authenticated users may add files.
constexpr wchar_t kUsersWriteFolder[] =
    L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;AU)";
constexpr wchar_t kUserOwnedFolder[] =
    L"O:S-1-5-21-1-2-3-1002D:(A;OICI;FA;;;BA)";
// No access list: everyone may write.
constexpr wchar_t kNoListFolder[] = L"O:BA";

TEST(JournalOwnerCheckTest, TrustedWritersAreTheUserAndThePrivileged) {
  struct Case {
    const wchar_t* journal_owner;
    const wchar_t* folder;
    bool trusted;
    // The folders above keep what they hold for the privileged
    // (ParentFoldersCheck): false where another owns one or may rename or
    // empty it, and so put a folder of their own in this one's place.
    bool parents_kept = true;
  } const cases[] = {
      {kUser, kUsersWriteFolder, true},
      {L"O:BA", kUsersWriteFolder, true},
      {L"O:SY", kUsersWriteFolder, true},
      {kOtherUser, kUsersWriteFolder, false},
      {L"O:BU", kUsersWriteFolder, false},
      {kOtherUser, kAdminOnlyFolder, true},
      {kOtherUser, kUserOwnedFolder, false},
      {kOtherUser, kNoListFolder, false},
      {kOtherUser, nullptr, false},
      // The folder speaks for another's journal only where no one else can
      // swap it; the writer's own journal needs no folder's word.
      {kOtherUser, kAdminOnlyFolder, false, false},
      {kOtherUser, kUsersWriteFolder, false, false},
      {kUser, kUsersWriteFolder, true, false},
      {L"O:BA", kAdminOnlyFolder, true, false},
  };
  const ScopedDescriptor user = Descriptor(kUser);
  PSID user_sid = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(user.get(), &user_sid, &defaulted));
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&test - cases));
    const ScopedDescriptor journal = Descriptor(test.journal_owner);
    PSID journal_owner = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(journal.get(), &journal_owner,
                                             &defaulted));
    PSID folder_owner = nullptr;
    PACL folder_dacl = nullptr;
    ScopedDescriptor folder;
    if (test.folder) {
      folder = Descriptor(test.folder);
      ASSERT_TRUE(folder);
      BOOL present = FALSE;
      ASSERT_TRUE(::GetSecurityDescriptorOwner(folder.get(), &folder_owner,
                                               &defaulted));
      ASSERT_TRUE(::GetSecurityDescriptorDacl(folder.get(), &present,
                                              &folder_dacl, &defaulted));
    }
    EXPECT_EQ(test.trusted,
              IsTrustedJournalWriter(journal_owner, user_sid, folder_owner,
                                     folder_dacl, test.parents_kept));
  }
}

// Every token that may be elevated has a record's writer checked, also one
// raised without the administrators' group; a standard user's acts as its
// user could. (Under Wine every file's owner is the user: a record whose
// owner cannot be read stands for one another wrote.)
TEST(JournalOwnerCheckTest, EveryTokenThatMayBeElevatedChecksTheWriter) {
  const struct {
    const char* label;
    TokenRights token;
    bool checks;
  } kCases[] = {
      {"administrator", test::kAdministratorToken, true},
      {"raised without the administrators", test::kPrivilegedUserToken, true},
      {"system", test::kSystemToken, true},
      {"limited administrator", test::kLimitedAdministratorToken, false},
      {"standard user", test::kStandardUserToken, false},
  };
  base::ScopedTempFolder temp;
  const base::FilePath own = temp.path().Append(L"k.bat");
  ASSERT_TRUE(base::WriteTextFile(own, "the user's own"));
  const base::FilePath unreadable = temp.path().Append(L"gone.bat");
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.label);
    const test::ScopedTokenRights rights(row.token);
    EXPECT_TRUE(MayActOnRecord(own, temp.path()));
    EXPECT_EQ(!row.checks, MayActOnRecord(unreadable, temp.path()));
  }
}

}  // namespace
}  // namespace installer
