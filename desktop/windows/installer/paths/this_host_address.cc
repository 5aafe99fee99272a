#include "desktop/windows/installer/paths/this_host_address.h"

// The sockets' header first: the adapter list's types build on it.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/logging.h"

namespace installer {
namespace {

using Ipv4Parser = LONG(NTAPI*)(PCWSTR text,
                                BOOLEAN strict,
                                PCWSTR* end,
                                IN_ADDR* address);
using Ipv6Parser = LONG(NTAPI*)(PCWSTR text,
                                IN6_ADDR* address,
                                ULONG* scope,
                                USHORT* port);

// Each adapter's own addresses, unicast and anycast, whether the adapter
// is up or not: one that comes up makes its addresses this machine's.
constexpr ULONG kAdapterListFlags = GAA_FLAG_SKIP_MULTICAST |
                                    GAA_FLAG_SKIP_DNS_SERVER |
                                    GAA_FLAG_SKIP_FRIENDLY_NAME;
constexpr ULONG kFirstAdapterListSize = 16 * 1024;
// The list may grow between the call that sizes it and the one that fills
// it, as an adapter comes up.
constexpr int kAdapterListTries = 4;

// ntdll's import library also exports C runtime functions, which must not
// bind in place of the runtime's own: its parsers are looked up instead.
template <typename Function>
Function FindInNtdll(const char* name) {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll ? reinterpret_cast<Function>(
                     reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
               : nullptr;
}

// "::ffff:a.b.c.d": one form for the addresses of both families.
IN6_ADDR MappedAddress(const IN_ADDR& address) {
  IN6_ADDR mapped = {};
  mapped.u.Byte[10] = 0xFF;
  mapped.u.Byte[11] = 0xFF;
  std::memcpy(&mapped.u.Byte[12], &address, sizeof(address));
  return mapped;
}

// An IPv4 address inside an IPv6 one: mapped ("::ffff:127.0.0.1") or
// compatible ("::127.0.0.1", which "::" and "::1" are as well).
bool HoldsIpv4Address(const IN6_ADDR& address) {
  const UCHAR* bytes = address.u.Byte;
  const bool mapped = bytes[10] == 0xFF && bytes[11] == 0xFF;
  const bool compatible = bytes[10] == 0 && bytes[11] == 0;
  return std::all_of(bytes, bytes + 10, [](UCHAR byte) { return byte == 0; }) &&
         (mapped || compatible);
}

// Either form of an IPv4 address as the mapped one.
IN6_ADDR Canonical(const IN6_ADDR& address) {
  if (!HoldsIpv4Address(address))
    return address;
  IN_ADDR ipv4;
  std::memcpy(&ipv4, &address.u.Byte[12], sizeof(ipv4));
  return MappedAddress(ipv4);
}

std::optional<IN6_ADDR> HostPart(const SOCKET_ADDRESS& socket_address) {
  const sockaddr* address = socket_address.lpSockaddr;
  const auto length = static_cast<size_t>(socket_address.iSockaddrLength);
  if (address && address->sa_family == AF_INET &&
      length >= sizeof(sockaddr_in)) {
    return MappedAddress(
        reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
  }
  if (address && address->sa_family == AF_INET6 &&
      length >= sizeof(sockaddr_in6)) {
    return Canonical(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
  }
  return std::nullopt;
}

// Of the adapter list's unicast or anycast entries.
template <typename Entry>
void AppendHostParts(const Entry* first, std::vector<IN6_ADDR>* addresses) {
  for (const Entry* entry = first; entry; entry = entry->Next) {
    if (const std::optional<IN6_ADDR> host = HostPart(entry->Address))
      addresses->push_back(*host);
  }
}

// Every address of every adapter, in the canonical form; none when the
// system's list cannot be read.
std::optional<std::vector<IN6_ADDR>> ReadOwnAddresses() {
  // In 8-byte units: the list's entries hold 64-bit fields.
  std::vector<uint64_t> buffer;
  ULONG size = kFirstAdapterListSize;
  for (int attempt = 0; attempt < kAdapterListTries; ++attempt) {
    buffer.assign(size / sizeof(uint64_t) + 1, 0);
    size = static_cast<ULONG>(buffer.size() * sizeof(uint64_t));
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    const ULONG result = ::GetAdaptersAddresses(AF_UNSPEC, kAdapterListFlags,
                                                nullptr, adapters, &size);
    if (result == ERROR_BUFFER_OVERFLOW)
      continue;
    if (result == ERROR_NO_DATA)
      return std::vector<IN6_ADDR>();  // No adapter has an address.
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "This machine's addresses cannot be read: " << result;
      return std::nullopt;
    }
    std::vector<IN6_ADDR> addresses;
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter;
         adapter = adapter->Next) {
      AppendHostParts(adapter->FirstUnicastAddress, &addresses);
      AppendHostParts(adapter->FirstAnycastAddress, &addresses);
    }
    return addresses;
  }
  LOG(ERROR) << "This machine's address list kept growing while read";
  return std::nullopt;
}

// 127.0.0.0/8 is loopback, and 0.0.0.0/8 is "this host".
bool IsThisHostNetwork(const IN6_ADDR& canonical) {
  const UCHAR first_byte = canonical.u.Byte[12];
  return HoldsIpv4Address(canonical) && (first_byte == 127 || first_byte == 0);
}

// The scope of a link-local address only picks the adapter: the address is
// this machine's on any of them.
bool IsOwnAddress(const IN6_ADDR& canonical) {
  const std::optional<std::vector<IN6_ADDR>> own = ReadOwnAddresses();
  // A share is a rare install folder, and one of this machine's would pass
  // every check of its local folders: unsure, it is taken for this one.
  if (!own)
    return true;
  return std::any_of(own->begin(), own->end(), [&](const IN6_ADDR& address) {
    return std::memcmp(&address, &canonical, sizeof(address)) == 0;
  });
}

// The system's own reading of a numeric name: besides "127.0.0.1" also
// "127.1", "0x7f.1", "017700000001" and "2130706433".
std::optional<IN6_ADDR> ParseIpv4(const std::wstring& server) {
  static const auto parse = FindInNtdll<Ipv4Parser>("RtlIpv4StringToAddressW");
  IN_ADDR address = {};
  PCWSTR end = nullptr;
  if (!parse || parse(server.c_str(), FALSE, &end, &address) != 0 ||
      *end != L'\0') {
    return std::nullopt;
  }
  return MappedAddress(address);
}

// "0--1.ipv6-literal.net" is "::1" ('-' for ':', 's' for the scope's '%'):
// Windows reads such a name itself, without a name server.
std::optional<IN6_ADDR> ParseIpv6Literal(std::wstring_view upper_server) {
  constexpr std::wstring_view kLiteralDomain = L".IPV6-LITERAL.NET";
  if (!upper_server.ends_with(kLiteralDomain))
    return std::nullopt;
  std::wstring text(
      upper_server.substr(0, upper_server.size() - kLiteralDomain.size()));
  std::replace(text.begin(), text.end(), L'-', L':');
  std::replace(text.begin(), text.end(), L'S', L'%');
  static const auto parse =
      FindInNtdll<Ipv6Parser>("RtlIpv6StringToAddressExW");
  IN6_ADDR address = {};
  ULONG scope = 0;
  USHORT port = 0;
  if (!parse || parse(text.c_str(), &address, &scope, &port) != 0)
    return std::nullopt;
  return Canonical(address);
}

}  // namespace

bool IsThisHostAddress(const std::wstring& upper_server) {
  std::optional<IN6_ADDR> address = ParseIpv4(upper_server);
  if (!address)
    address = ParseIpv6Literal(upper_server);
  return address && (IsThisHostNetwork(*address) || IsOwnAddress(*address));
}

}  // namespace installer
