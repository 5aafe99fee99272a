#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_REQUEST_SOCKET_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_REQUEST_SOCKET_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/threading/lock.h"

namespace installer {

// The socket WinINet connected for a downloader's current request, so that
// a request given up can be ended: WinINet offers no way to. Closing a
// request whose head never ends leaves WinINet reading it, its memory
// growing, and closing one in the middle of a body reads the rest first,
// for ever when it never ends. Shutting the socket down ends either at
// once. The socket is the one that appeared, connected to the address
// WinINet names, between its notices of connecting and connected; when
// that is not exactly one (another download connected to the same server
// at the same moment) none is taken. A request on a connection kept from
// an earlier one brings no such notices and keeps the earlier's socket;
// the downloader shuts a socket down once its answer was read to the end,
// so that WinINet keeps no connection of its for a request that would not
// know it. Any thread.
class RequestSocket {
 public:
  RequestSocket();
  RequestSocket(const RequestSocket&) = delete;
  RequestSocket& operator=(const RequestSocket&) = delete;
  ~RequestSocket();

  // On WinINet's thread, at its connecting and connected notices;
  // `address` is the server's numeric address as WinINet gave it.
  void OnConnecting();
  void OnConnected(const std::string& address);
  // Shuts the socket down when it is still connected where it was, and
  // forgets it. True when a socket was shut down.
  bool ShutDown();

 private:
  struct Connected {
    uintptr_t socket;
    std::string peer;
  };
  // Every connected socket of the process with its peer's address and
  // port.
  static std::vector<Connected> ConnectedSockets();

  bool started_ = false;
  base::Lock lock_;
  std::vector<Connected> before_connecting_;
  // 0 when none is known.
  uintptr_t socket_ = 0;
  std::string peer_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_REQUEST_SOCKET_H_
