#include "desktop/windows/installer/paths/plain_share.h"

#include <in6addr.h>
#include <inaddr.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "desktop/windows/installer/paths/local_path.h"

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

using Ipv4Parser = LONG(NTAPI*)(PCWSTR text,
                                BOOLEAN strict,
                                PCWSTR* end,
                                IN_ADDR* address);
using Ipv6Parser = LONG(NTAPI*)(PCWSTR text,
                                IN6_ADDR* address,
                                ULONG* scope,
                                USHORT* port);

// ntdll's import library also exports C runtime functions, which must not
// bind in place of the runtime's own: its parsers are looked up instead.
template <typename Function>
Function FindInNtdll(const char* name) {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll ? reinterpret_cast<Function>(
                     reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
               : nullptr;
}

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

// 127.0.0.0/8 is loopback, and 0.0.0.0/8 is "this host".
bool IsThisHostNetwork(UCHAR first_byte) {
  return first_byte == 127 || first_byte == 0;
}

// The system's own reading of a numeric name: besides "127.0.0.1" also
// "127.1", "0x7f.1", "017700000001" and "2130706433".
bool IsThisHostIpv4(const std::wstring& server) {
  static const auto parse = FindInNtdll<Ipv4Parser>("RtlIpv4StringToAddressW");
  IN_ADDR address = {};
  PCWSTR end = nullptr;
  return parse && parse(server.c_str(), FALSE, &end, &address) == 0 &&
         *end == L'\0' && IsThisHostNetwork(address.S_un.S_un_b.s_b1);
}

// "::1" and "::", and an IPv4 address of this host, mapped
// ("::ffff:127.0.0.1") or compatible ("::127.0.0.1").
bool IsThisHostIpv6(const IN6_ADDR& address) {
  const UCHAR* bytes = address.u.Byte;
  const bool mapped = bytes[10] == 0xFF && bytes[11] == 0xFF;
  const bool compatible = bytes[10] == 0 && bytes[11] == 0;
  return std::all_of(bytes, bytes + 10, [](UCHAR byte) { return byte == 0; }) &&
         (mapped || compatible) && IsThisHostNetwork(bytes[12]);
}

// "0--1.ipv6-literal.net" is "::1" ('-' for ':', 's' for the scope's '%'):
// Windows reads such a name itself, without a name server.
bool IsThisHostIpv6Literal(std::wstring_view upper_server) {
  constexpr std::wstring_view kLiteralDomain = L".IPV6-LITERAL.NET";
  if (!upper_server.ends_with(kLiteralDomain))
    return false;
  std::wstring text(
      upper_server.substr(0, upper_server.size() - kLiteralDomain.size()));
  std::replace(text.begin(), text.end(), L'-', L':');
  std::replace(text.begin(), text.end(), L'S', L'%');
  static const auto parse =
      FindInNtdll<Ipv6Parser>("RtlIpv6StringToAddressExW");
  IN6_ADDR address = {};
  ULONG scope = 0;
  USHORT port = 0;
  return parse && parse(text.c_str(), &address, &scope, &port) == 0 &&
         IsThisHostIpv6(address);
}

bool IsOwnComputerName(const std::wstring& upper_server) {
  for (COMPUTER_NAME_FORMAT format : kOwnNameFormats) {
    wchar_t name[kMaxHostNameUnits] = {};
    DWORD size = kMaxHostNameUnits;
    // A name that cannot be read cannot be matched either.
    if (::GetComputerNameExW(format, name, &size) && size > 0 &&
        ToUpperOrdinal(std::wstring(name, size)) == upper_server) {
      return true;
    }
  }
  return false;
}

// A share of this machine is one of its own folders reached through the
// redirector, past every check the installer makes of a local folder (links
// on the way, profiles, the rules for a folder of all users); the folder's
// own path reaches it as well.
bool IsThisMachine(std::wstring_view server) {
  const std::wstring upper = ToUpperOrdinal(std::wstring(server));
  return IsLoopbackName(upper) || IsThisHostIpv4(upper) ||
         IsThisHostIpv6Literal(upper) || IsOwnComputerName(upper);
}

bool IsPlainServer(std::wstring_view server) {
  return IsPlainName(server) && !IsRedirectorPrefix(server) &&
         !IsWebFolderServer(server) && !IsThisMachine(server);
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
