#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TOKEN_RIGHTS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TOKEN_RIGHTS_H_

#include "desktop/windows/installer/system/process_elevation.h"

namespace installer {
namespace test {

// The kinds of token a test process is read as. Under Wine every process's
// token is an elevated administrator's and cannot drop that itself.
inline constexpr TokenRights kStandardUserToken{};
inline constexpr TokenRights kLimitedAdministratorToken{
    .administrators_deny_only = true};
inline constexpr TokenRights kAdministratorToken{
    .elevated = true,
    .administrators_enabled = true,
    .administrators_privilege = true};
// Raised without the administrators' group: a backup operator's, a
// service account's with SeImpersonate.
inline constexpr TokenRights kPrivilegedUserToken{
    .administrators_privilege = true};
inline constexpr TokenRights kSystemToken{.system_enabled = true};

// While it lives, this process's token is read as `rights`
// (ProcessElevation's seam).
class ScopedTokenRights {
 public:
  explicit ScopedTokenRights(const TokenRights& rights)
      : previous_rights_(Current()) {
    Current() = rights;
    previous_query_ = ProcessElevation::SetTokenQueryForTesting(&Answer);
  }
  ScopedTokenRights(const ScopedTokenRights&) = delete;
  ScopedTokenRights& operator=(const ScopedTokenRights&) = delete;
  ~ScopedTokenRights() {
    ProcessElevation::SetTokenQueryForTesting(previous_query_);
    Current() = previous_rights_;
  }

 private:
  static TokenRights& Current() {
    static TokenRights rights;
    return rights;
  }
  static TokenRights Answer() { return Current(); }

  const TokenRights previous_rights_;
  ProcessElevation::TokenQuery previous_query_ = nullptr;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TOKEN_RIGHTS_H_
