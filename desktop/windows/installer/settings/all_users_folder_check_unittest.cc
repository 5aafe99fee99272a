#include "desktop/windows/installer/settings/all_users_folder_check.h"

#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Facts = AllUsersFolderCheck::Facts;
using Verdict = AllUsersFolderCheck::Verdict;

Facts Existing(bool trusted_owner, bool administrators, bool empty) {
  Facts facts;
  facts.exists = true;
  facts.readable = true;
  facts.trusted_owner = trusted_owner;
  facts.administrators = administrators;
  facts.empty = empty;
  return facts;
}

TEST(AllUsersFolderCheckTest, OnlyTheAdministratorsFolderOrANewOneIsUsed) {
  Facts missing;
  Facts in_profile = Existing(true, true, false);
  in_profile.in_profile = true;
  Facts missing_in_profile;
  missing_in_profile.in_profile = true;
  Facts link = Existing(true, true, true);
  link.link = true;
  Facts missing_below_link;
  missing_below_link.link = true;
  Facts unreadable = Existing(true, true, true);
  unreadable.readable = false;
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

}  // namespace
}  // namespace installer
