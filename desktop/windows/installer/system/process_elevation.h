#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_PROCESS_ELEVATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_PROCESS_ELEVATION_H_

#include <windows.h>

#include <optional>

namespace installer {

// What a token says about the rights it carries.
struct TokenRights {
  // Its TokenElevation answer.
  bool elevated = false;
  // Enabled, as CheckTokenMembership judges (user or group).
  bool administrators_enabled = false;
  bool system_enabled = false;
  // Present for deny only: the token was filtered from an administrator's
  // (UAC's limited token, a restricted token).
  bool administrators_deny_only = false;
  // It holds a privilege UAC takes from a filtered token.
  bool administrators_privilege = false;
};

// Whether this process's token carries more rights than a standard user's:
// an administrator's token whether UAC split it or not, the system account's,
// or one the platform calls elevated. Such a process may not trust what its
// user could have put in its way (the environment, folders the user writes).
class ProcessElevation {
 public:
  ProcessElevation() = delete;

  // The rule, over what a token says.
  static bool IsElevated(const TokenRights& rights);
  // Empty when the token cannot be read.
  [[nodiscard]] static std::optional<TokenRights> Read(HANDLE token);
  // This process's token; one that cannot be read counts as elevated.
  static bool ProcessTokenIsElevated();

  // Whether `sid_type` is an enabled identity of `token`; empty when that
  // cannot be told.
  [[nodiscard]] static std::optional<bool> HoldsEnabled(
      HANDLE token,
      WELL_KNOWN_SID_TYPE sid_type);

  // Tests only: the process's token is read as `rights` instead (a test
  // process cannot change its own token); null restores the real one.
  // Returns the one it replaces.
  using TokenQuery = TokenRights (*)();
  static TokenQuery SetTokenQueryForTesting(TokenQuery query);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_PROCESS_ELEVATION_H_
