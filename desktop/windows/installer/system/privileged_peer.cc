#include "desktop/windows/installer/system/privileged_peer.h"

#include <vector>

#include "base/logging.h"
#include "desktop/windows/installer/system/utils.h"

// Its callers may run before the process opens its log: refusals are told
// in verbose lines, which make no log file of their own.

namespace installer {

namespace {

// Enough to read its token and to tell whether it still runs; nothing that
// lets this process act on it.
constexpr DWORD kPeerAccess = PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;
// DuplicateToken, for the membership checks of ProcessElevation::Read.
constexpr DWORD kTokenAccess = TOKEN_QUERY | TOKEN_DUPLICATE;

base::win::ScopedHandle OpenToken(HANDLE process) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(process, kTokenAccess, &raw_token)) {
    const DWORD error = ::GetLastError();
    VLOG(1) << "OpenProcessToken failed, error " << error;
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(raw_token);
}

// Each of the two tokens' `kind` of information; false when one cannot be
// read.
bool ReadBoth(HANDLE own,
              HANDLE other,
              TOKEN_INFORMATION_CLASS kind,
              std::vector<uint8_t>* own_information,
              std::vector<uint8_t>* other_information) {
  *own_information = ReadTokenInformation(own, kind);
  *other_information = ReadTokenInformation(other, kind);
  return !own_information->empty() && !other_information->empty();
}

PSID UserOf(const std::vector<uint8_t>& information) {
  return reinterpret_cast<const TOKEN_USER*>(information.data())->User.Sid;
}

// The last sub-authority of the label: the integrity level's rid.
DWORD IntegrityOf(const std::vector<uint8_t>& information) {
  const PSID label =
      reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(information.data())
          ->Label.Sid;
  const UCHAR count = *::GetSidSubAuthorityCount(label);
  return count == 0 ? 0 : *::GetSidSubAuthority(label, count - 1);
}

}  // namespace

// static
bool PrivilegedPeer::IsTrusted(const TokenFacts& facts) {
  return facts.rights && ProcessElevation::IsElevated(*facts.rights) &&
         facts.same_user && !facts.integrity_below_own;
}

// static
base::win::ScopedHandle PrivilegedPeer::Open(uint32_t pid) {
  base::win::ScopedHandle process(::OpenProcess(kPeerAccess, FALSE, pid));
  if (!process.IsValid()) {
    const DWORD error = ::GetLastError();
    VLOG(1) << "Cannot open process " << pid << ", error " << error;
    return base::win::ScopedHandle();
  }
  // A process that has ended can still be opened while anyone holds it; its
  // id is given out again once nobody does.
  if (::WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT) {
    VLOG(1) << "Process " << pid << " no longer runs";
    return base::win::ScopedHandle();
  }
  const base::win::ScopedHandle token = OpenToken(process.Get());
  if (!token.IsValid())
    return base::win::ScopedHandle();
  const std::optional<TokenFacts> facts = ReadFacts(token.Get());
  if (!facts || !IsTrusted(*facts)) {
    VLOG(1) << "Process " << pid << " may not run with this process's rights";
    return base::win::ScopedHandle();
  }
  return process;
}

// static
std::optional<PrivilegedPeer::TokenFacts> PrivilegedPeer::ReadFacts(
    HANDLE token) {
  const base::win::ScopedHandle own = OpenToken(::GetCurrentProcess());
  std::vector<uint8_t> own_user, other_user, own_label, other_label;
  if (!own.IsValid() ||
      !ReadBoth(own.Get(), token, TokenUser, &own_user, &other_user) ||
      !ReadBoth(own.Get(), token, TokenIntegrityLevel, &own_label,
                &other_label)) {
    return std::nullopt;
  }
  return TokenFacts{
      .rights = ProcessElevation::Read(token),
      .same_user = ::EqualSid(UserOf(own_user), UserOf(other_user)) != FALSE,
      .integrity_below_own = IntegrityOf(other_label) < IntegrityOf(own_label),
  };
}

}  // namespace installer
