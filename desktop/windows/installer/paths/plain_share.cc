#include "desktop/windows/installer/paths/plain_share.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "desktop/windows/installer/paths/host_name_folding.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/paths/this_host_address.h"

namespace installer {
namespace {

// Shares that hold no folder of files: the file systems of the named pipes
// and of the mailslots, and the inter-process share. And the
// administrative shares of the system's folder and of the printer drivers
// that every printing client loads (a drive's is its letter, below).
// Upper case: names are compared as the file system compares them.
constexpr std::wstring_view kRefusedShares[] = {L"PIPE", L"MAILSLOT", L"IPC$",
                                                L"ADMIN$", L"PRINT$"};

// Names that resolvers answer with this machine's loopback address without
// asking a name server. Upper case.
constexpr std::wstring_view kLoopbackNames[] = {
    L"LOCALHOST", L"LOCALHOST.LOCALDOMAIN", L"IP6-LOCALHOST", L"IP6-LOOPBACK"};

// Each name this machine answers to, as set and as it stands until the
// next start; a cluster node has its physical ones besides.
constexpr COMPUTER_NAME_FORMAT kOwnNameFormats[] = {
    ComputerNameNetBIOS,
    ComputerNameDnsHostname,
    ComputerNameDnsFullyQualified,
    ComputerNamePhysicalNetBIOS,
    ComputerNamePhysicalDnsHostname,
    ComputerNamePhysicalDnsFullyQualified};

// The longest DNS name, with its terminator.
constexpr DWORD kMaxHostNameUnits = 256;

// Wildcards and the characters Windows reserves: "\\?\UNC\?\C:\x" names
// no server, and an IPv6 address ("::1", "[::1]") is this machine or
// another that the name alone does not tell.
constexpr wchar_t kReservedCharacters[] = L"\"*:<>?|[]";

// "server$NOCSC$" is "server" past the offline files' cache: the
// redirector takes the suffix off and reaches the server the rest names.
constexpr std::wstring_view kUncachedSuffix = L"$NOCSC$";

bool IsAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

bool IsListed(std::wstring_view upper_name,
              const std::wstring_view* begin,
              const std::wstring_view* end) {
  return std::find(begin, end, upper_name) != end;
}

// Windows drops trailing dots and spaces from a name, and a name of them
// only is none: "localhost." and "pipe " would act as "localhost" and
// "pipe", "..." as "..". A leading blank is kept by some layers and dropped
// by others.
bool HasTrimmedEdge(std::wstring_view name) {
  return name.front() == L' ' || name.back() == L' ' || name.back() == L'.';
}

bool HasReservedCharacter(std::wstring_view name) {
  return std::any_of(name.begin(), name.end(), [](wchar_t unit) {
    return unit < 0x20 || std::wstring_view(kReservedCharacters).find(unit) !=
                              std::wstring_view::npos;
  });
}

bool IsPlainName(std::wstring_view name) {
  return !name.empty() && !HasTrimmedEdge(name) && !HasReservedCharacter(name);
}

// "\\;LanmanRedirector\server\share" and a mapped drive's
// "\\;Z:0000000000012345\server\share" name a redirector's own namespace,
// past the server part that a check would read.
bool IsRedirectorPrefix(std::wstring_view server) {
  return server.front() == L';';
}

// "server@8080" and "server@SSL" reach the web folder redirector, which
// asks over HTTP whatever listens on that port, and signs in to it as the
// user: on this machine any user's process may listen there.
bool IsWebFolderServer(std::wstring_view server) {
  return server.find(L'@') != std::wstring_view::npos;
}

// "localhost" and every name below it ("a.localhost") are loopback by rule.
bool IsLoopbackName(std::wstring_view upper_server) {
  constexpr std::wstring_view kBelowLocalhost = L".LOCALHOST";
  return IsListed(upper_server, std::begin(kLoopbackNames),
                  std::end(kLoopbackNames)) ||
         upper_server.ends_with(kBelowLocalhost);
}

// An own name is compared in every spelling it folds into, as the server's
// name is: either may be the one outside ASCII.
bool IsOwnComputerName(const std::wstring& upper_server) {
  for (COMPUTER_NAME_FORMAT format : kOwnNameFormats) {
    wchar_t name[kMaxHostNameUnits] = {};
    DWORD size = kMaxHostNameUnits;
    // A name that cannot be read cannot be matched either.
    if (!::GetComputerNameExW(format, name, &size) || size == 0)
      continue;
    const std::wstring own(name, size);
    const std::vector<std::wstring> spellings =
        FoldHostName(own).value_or(std::vector{ToUpperOrdinal(own)});
    if (std::find(spellings.begin(), spellings.end(), upper_server) !=
        spellings.end()) {
      return true;
    }
  }
  return false;
}

// A share of this machine is one of its own folders reached through the
// redirector, past every check the installer makes of a local folder (links
// on the way, profiles, the rules for a folder of all users); the folder's
// own path reaches it as well.
bool IsThisMachine(const std::wstring& upper_server) {
  return IsLoopbackName(upper_server) || IsThisHostAddress(upper_server) ||
         IsOwnComputerName(upper_server);
}

// Taken off as often as it stands: whatever the redirector leaves is
// judged, never less.
std::wstring_view WithoutUncachedSuffix(std::wstring_view upper_server) {
  while (upper_server.ends_with(kUncachedSuffix))
    upper_server.remove_suffix(kUncachedSuffix.size());
  return upper_server;
}

// A web folder's decorations ("@SSL", "@8080") in any order with the
// suffix all carry an '@', which refuses the server whole.
bool IsPlainServerSpelling(const std::wstring& upper_server) {
  const std::wstring named(WithoutUncachedSuffix(upper_server));
  return IsPlainName(upper_server) && IsPlainName(named) &&
         !IsRedirectorPrefix(upper_server) &&
         !IsWebFolderServer(upper_server) && !IsThisMachine(named);
}

// Each spelling the resolver may read the name as must be another
// machine's; a name outside ASCII that cannot be folded is none.
bool IsPlainServer(std::wstring_view server) {
  const std::optional<std::vector<std::wstring>> spellings =
      FoldHostName(server);
  return spellings && std::all_of(spellings->begin(), spellings->end(),
                                  IsPlainServerSpelling);
}

// Every drive is shared with administrators as its letter and '$': "C$" is
// the whole drive, past the checks of its folders.
bool IsDriveShare(std::wstring_view share) {
  return share.size() == 2 && IsAsciiLetter(share[0]) && share[1] == L'$';
}

bool IsPlainShareName(std::wstring_view share) {
  return IsPlainName(share) && !IsDriveShare(share) &&
         !IsListed(ToUpperOrdinal(std::wstring(share)),
                   std::begin(kRefusedShares), std::end(kRefusedShares));
}

}  // namespace

bool IsPlainShare(std::wstring_view server, std::wstring_view share) {
  return IsPlainServer(server) && IsPlainShareName(share);
}

}  // namespace installer
