#include "desktop/windows/installer/settings/all_users_folder_check.h"

#include <windows.h>

#include <sddl.h>

#include "base/path_service.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Facts = AllUsersFolderCheck::Facts;
using Verdict = AllUsersFolderCheck::Verdict;

// Below folders that only the administrators may rename or empty.
Facts Missing() {
  Facts facts;
  facts.parents_readable = true;
  facts.parents_administrators = true;
  return facts;
}

Facts Existing(bool trusted_owner, bool administrators, bool empty) {
  Facts facts = Missing();
  facts.exists = true;
  facts.readable = true;
  facts.trusted_owner = trusted_owner;
  facts.administrators = administrators;
  facts.empty = empty;
  return facts;
}

// Wine reads every file as the user's, with the list its Unix mode makes:
// a folder above that a user owns or may empty cannot be made here. Such a
// folder's owner and list are read from descriptors in AdministratorsFolder's
// test; what they mean for the folder below, here.
TEST(AllUsersFolderCheckTest, OnlyTheAdministratorsFolderOrANewOneIsUsed) {
  const Facts missing = Missing();
  Facts in_profile = Existing(true, true, false);
  in_profile.in_profile = true;
  Facts missing_in_profile = Missing();
  missing_in_profile.in_profile = true;
  Facts link = Existing(true, true, true);
  link.link = true;
  Facts missing_below_link = Missing();
  missing_below_link.link = true;
  Facts unreadable = Existing(true, true, true);
  unreadable.readable = false;
  Facts below_replaceable = Existing(true, true, false);
  below_replaceable.parents_administrators = false;
  Facts missing_below_replaceable = Missing();
  missing_below_replaceable.parents_administrators = false;
  Facts below_unreadable = Existing(true, true, false);
  below_unreadable.parents_readable = false;
  below_unreadable.parents_administrators = false;
  Facts below_replaceable_link = below_replaceable;
  below_replaceable_link.link = true;
  const struct {
    const char* label;
    Facts facts;
    Verdict expected;
  } kCases[] = {
      {"missing", missing, Verdict::kMakeAdministrators},
      {"the administrators'", Existing(true, true, false), Verdict::kUse},
      {"empty, others may add files", Existing(true, false, true),
       Verdict::kMakeAdministrators},
      {"holding files others could have put there",
       Existing(true, false, false), Verdict::kOthersMayChange},
      // Its owner may rewrite the list whenever they like.
      {"a user's, even empty", Existing(false, false, true),
       Verdict::kOthersMayChange},
      {"a user's with the administrators' list", Existing(false, true, false),
       Verdict::kOthersMayChange},
      {"in a profile", in_profile, Verdict::kInProfile},
      {"to be made in a profile", missing_in_profile, Verdict::kInProfile},
      {"a link", link, Verdict::kOthersMayChange},
      {"below a link", missing_below_link, Verdict::kOthersMayChange},
      {"unreadable", unreadable, Verdict::kUnreadable},
      // A user who may rename a folder above, or what it holds, puts their
      // own in its place: the administrators' list of this one is moot.
      {"the administrators' below a replaceable folder", below_replaceable,
       Verdict::kParentOthersMayChange},
      {"to be made below a replaceable folder", missing_below_replaceable,
       Verdict::kParentOthersMayChange},
      {"below a folder that cannot be read", below_unreadable,
       Verdict::kUnreadable},
      {"a link below a replaceable folder", below_replaceable_link,
       Verdict::kOthersMayChange},
  };
  for (const auto& c : kCases) {
    const Verdict verdict = AllUsersFolderCheck::Decide(c.facts);
    EXPECT_EQ(verdict, c.expected) << c.label;
    EXPECT_EQ(AllUsersFolderCheck::MessageId(verdict) != 0,
              AllUsersFolderCheck::Refuses(verdict))
        << c.label;
  }
}

TEST(AllUsersFolderCheckTest, TheUsersTemporaryFolderIsInAProfile) {
  base::ScopedTempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  EXPECT_EQ(AllUsersFolderCheck::Judge(temp.path().Append(L"Tarvo")),
            Verdict::kInProfile);
  EXPECT_EQ(AllUsersFolderCheck::Judge(base::FilePath(L"Tarvo")),
            Verdict::kUnreadable);
}

// Wine turns a list set by name into the folder's Unix mode and reads the
// mode back as a list: everyone's full control stands for a folder above
// that anyone may empty. In the build's folder: one in the profile is
// refused first.
TEST(AllUsersFolderCheckTest, AFolderBelowOneEveryoneMayEmptyIsRefused) {
  base::FilePath exe_folder;
  ASSERT_TRUE(base::GetPathForKey(base::kExeDir, &exe_folder));
  const base::ScopedTempFolder parent(exe_folder);
  ASSERT_FALSE(parent.path().empty());
  const base::ScopedTempFolder made(parent.path());
  ASSERT_FALSE(made.path().empty());
  ASSERT_EQ(AllUsersFolderCheck::Judge(made.path()), Verdict::kUse);
  base::win::ScopedLocalAlloc<void> everyone;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, everyone.Receive(), nullptr));
  ASSERT_TRUE(::SetFileSecurityW(parent.path().value().c_str(),
                                 DACL_SECURITY_INFORMATION, everyone.Get()));

  for (const base::FilePath& folder :
       {made.path(), parent.path().Append(L"Vendor\\Tarvo")}) {
    const Verdict verdict = AllUsersFolderCheck::Judge(folder);
    EXPECT_EQ(verdict, Verdict::kParentOthersMayChange) << folder.AsUTF8();
    EXPECT_EQ(AllUsersFolderCheck::MessageId(verdict),
              kStringAllUsersFolderNotAdministrators);
  }
}

}  // namespace
}  // namespace installer
