#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVILEGED_PEER_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVILEGED_PEER_H_

#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/system/process_elevation.h"

namespace installer {

// Another running process that a process which may run elevated may deal
// with as with itself, because its user could neither have started it nor
// take it over: it runs elevated (ProcessElevation) as the same user, at
// no lower integrity than this process. A process named by the user's command
// line is judged so before it is told anything of this one.
class PrivilegedPeer {
 public:
  PrivilegedPeer() = delete;

  // What the rule reads of the other process's token, against this
  // process's own.
  struct TokenFacts {
    // Empty when they cannot be read.
    std::optional<TokenRights> rights;
    bool same_user = false;
    bool integrity_below_own = false;
  };

  // The rule.
  static bool IsTrusted(const TokenFacts& facts);

  // Process `pid`, opened for PROCESS_QUERY_LIMITED_INFORMATION and
  // SYNCHRONIZE, when it still runs and is trusted; invalid otherwise.
  // While the handle is held the id names no other process: a caller that
  // goes on to rely on the id (a pipe's server, a child's command line)
  // keeps it as long as it does.
  static base::win::ScopedHandle Open(uint32_t pid);

  // The facts of `token` against this process's token; empty when either
  // cannot be read.
  [[nodiscard]] static std::optional<TokenFacts> ReadFacts(HANDLE token);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVILEGED_PEER_H_
