#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_PLAIN_SHARE_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_PLAIN_SHARE_H_

#include <string_view>

namespace installer {

// Whether "\\server\share" names a folder of files that another machine
// shares, and nothing else the redirector reaches: not a pipe's, a
// mailslot's or the inter-process share, not a whole drive's or the
// system's administrative share, not this machine by any name that can be
// told without asking the network, not a redirector's own prefix, a
// wildcard or a name Windows would trim. `server` and `share` are single
// components, without separators.
bool IsPlainShare(std::wstring_view server, std::wstring_view share);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_PLAIN_SHARE_H_
