#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_THIS_HOST_ADDRESS_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_THIS_HOST_ADDRESS_H_

#include <string>

namespace installer {

// Whether `upper_server`, a server's name in upper case, is a numeric
// address of this machine in a spelling the system reads itself, without
// a name server: an IPv4 address as its parser reads one ("127.1",
// "0x7f.0.0.1", "2130706433") or an IPv6 address as "<address>.ipv6-
// literal.net", of the loopback or "this host" networks or one of the
// machine's own addresses on any adapter, asked of the system at each call
// (an address comes and goes with its network). A numeric name is taken
// for this machine's when that list cannot be read.
bool IsThisHostAddress(const std::wstring& upper_server);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_THIS_HOST_ADDRESS_H_
