#include "desktop/windows/installer/system/process_elevation.h"

#include <windows.h>

#include <optional>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/standard_user_token.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Each kind of token the question meets, as Windows reports it. Wine makes
// only its own administrator's token and restricted ones from it (rows
// below); the others come through their facts.
TEST(ProcessElevationTest, EachKindOfTokenIsJudged) {
  const struct {
    const char* name;
    TokenRights rights;
    bool elevated;
  } kCases[] = {
      {"administrator, UAC off (default type)",
       {.elevated = true,
        .administrators_enabled = true,
        .administrators_privilege = true},
       true},
      {"administrator raised by UAC (full type)",
       {.elevated = true,
        .administrators_enabled = true,
        .administrators_privilege = true},
       true},
      {"administrator filtered by UAC (limited type)",
       {.administrators_deny_only = true},
       false},
      {"standard user", {}, false},
      {"system account",
       {.elevated = true,
        .administrators_enabled = true,
        .system_enabled = true,
        .administrators_privilege = true},
       true},
      {"system identity alone", {.system_enabled = true}, true},
      {"restricted administrator, Wine's elevation claim kept",
       {.elevated = true, .administrators_deny_only = true},
       false},
      {"restricted administrator keeping the privileges",
       {.elevated = true,
        .administrators_deny_only = true,
        .administrators_privilege = true},
       true},
      {"backup operator raised (privileges, no group)",
       {.elevated = true, .administrators_privilege = true},
       true},
      {"elevated by a group Windows counts, not ours", {.elevated = true},
       true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    EXPECT_EQ(test_case.elevated, ProcessElevation::IsElevated(test_case.rights));
  }
}

base::win::ScopedHandle OpenOwnToken() {
  HANDLE token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(),
                                 TOKEN_QUERY | TOKEN_DUPLICATE, &token));
  return base::win::ScopedHandle(token);
}

// Wine's own token, and tokens restricted from it as the tests make a
// standard user's: the administrators' group kept for deny only (Wine
// still reports them elevated), with and without the privileges.
TEST(ProcessElevationTest, RealTokensAreRead) {
  const base::win::ScopedHandle own = OpenOwnToken();
  const struct {
    const char* name;
    bool restricted;
    DWORD flags;
    bool administrators_enabled;
    bool administrators_privilege;
    bool elevated;
  } kCases[] = {
      {"Wine's administrator", false, 0, true, true, true},
      {"administrators for deny only, no privileges", true,
       DISABLE_MAX_PRIVILEGE, false, false, false},
      {"administrators for deny only, privileges kept", true, 0, false, true,
       true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    const base::win::ScopedHandle token =
        test_case.restricted ? test::MakeStandardUserToken(test_case.flags)
                             : base::win::ScopedHandle();
    ASSERT_EQ(test_case.restricted, token.IsValid());
    const std::optional<TokenRights> rights =
        ProcessElevation::Read(test_case.restricted ? token.Get() : own.Get());
    ASSERT_TRUE(rights);
    EXPECT_EQ(test_case.administrators_enabled, rights->administrators_enabled);
    EXPECT_EQ(test_case.restricted, rights->administrators_deny_only);
    EXPECT_EQ(test_case.administrators_privilege,
              rights->administrators_privilege);
    EXPECT_FALSE(rights->system_enabled);
    EXPECT_EQ(test_case.elevated, ProcessElevation::IsElevated(*rights));
  }
}

}  // namespace
}  // namespace installer
