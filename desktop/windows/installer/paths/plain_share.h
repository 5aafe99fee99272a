#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_PLAIN_SHARE_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_PLAIN_SHARE_H_

#include <string_view>

namespace installer {

// Whether "\\server\share" names a folder of files that another machine
// shares, and nothing else the redirector reaches: not a pipe's, a
// mailslot's or the inter-process share, not a whole drive's or the
// system's administrative share, not this machine by any name or address
// that can be told without asking the network (its own addresses asked of
// the system, every spelling the name resolver folds into one of them, the
// offline files' "$NOCSC$" taken off), not a redirector's own prefix or a
// web folder, a wildcard or a name Windows would trim. `server` and
// `share` are single components, without separators.
bool IsPlainShare(std::wstring_view server, std::wstring_view share);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_PLAIN_SHARE_H_
