#include "desktop/windows/installer/system/privileged_peer.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr TokenRights kElevated = {.elevated = true,
                                   .administrators_enabled = true,
                                   .administrators_privilege = true};

// Wine makes no token of another user or of a lower integrity (it keeps
// none): those come through their facts. Running processes, a standard
// user's and an ended one among them, are judged in the crash reporter's
// tests.
TEST(PrivilegedPeerTest, OnlyAnElevatedPeerOfTheSameUserIsTrusted) {
  const struct {
    const char* name;
    PrivilegedPeer::TokenFacts facts;
    bool trusted;
  } kCases[] = {
      {"elevated, same user", {.rights = kElevated, .same_user = true}, true},
      {"system account, same user",
       {.rights = TokenRights{.system_enabled = true}, .same_user = true},
       true},
      {"standard user's token",
       {.rights = TokenRights{.administrators_deny_only = true},
        .same_user = true},
       false},
      {"restricted from an administrator's, privileges kept",
       {.rights = TokenRights{.administrators_deny_only = true,
                              .administrators_privilege = true},
        .same_user = true},
       true},
      {"rights unreadable", {.same_user = true}, false},
      {"elevated, another user", {.rights = kElevated}, false},
      {"elevated, lower integrity",
       {.rights = kElevated, .same_user = true, .integrity_below_own = true},
       false},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    EXPECT_EQ(test_case.trusted, PrivilegedPeer::IsTrusted(test_case.facts));
  }
}

}  // namespace
}  // namespace installer
