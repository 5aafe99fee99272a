#include "desktop/windows/installer/wininet/request_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "base/logging.h"

namespace installer {

namespace {

// Sockets are handles, whose values are multiples of 4; a process of the
// installer holds a few hundred handles, far below this bound.
constexpr uintptr_t kHighestHandleValue = 0x10000;

// "address:port" of the socket's peer; empty when it is no connected
// socket.
std::string PeerOf(uintptr_t value) {
  sockaddr_storage peer = {};
  int size = sizeof(peer);
  if (::getpeername(static_cast<SOCKET>(value),
                    reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
    return std::string();
  }
  char text[INET6_ADDRSTRLEN] = {};
  int port = 0;
  if (peer.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
    port = ntohs(v4->sin_port);
  } else if (peer.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
    port = ntohs(v6->sin6_port);
  } else {
    return std::string();
  }
  return std::string(text) + ":" + std::to_string(port);
}

bool HasAddress(const std::string& peer, const std::string& address) {
  return peer.size() > address.size() &&
         peer.compare(0, address.size(), address) == 0 &&
         peer[address.size()] == ':';
}

}  // namespace

RequestSocket::RequestSocket() {
  WSADATA data;
  started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!started_)
    LOG(WARNING) << "Could not start Winsock; a request given up ends late";
}

RequestSocket::~RequestSocket() {
  if (started_)
    ::WSACleanup();
}

// static
std::vector<RequestSocket::Connected> RequestSocket::ConnectedSockets() {
  std::vector<Connected> sockets;
  for (uintptr_t value = 4; value < kHighestHandleValue; value += 4) {
    std::string peer = PeerOf(value);
    if (!peer.empty())
      sockets.push_back({value, std::move(peer)});
  }
  return sockets;
}

void RequestSocket::OnConnecting() {
  if (!started_)
    return;
  std::vector<Connected> sockets = ConnectedSockets();
  base::AutoLock hold(lock_);
  before_connecting_ = std::move(sockets);
}

void RequestSocket::OnConnected(const std::string& address) {
  if (!started_)
    return;
  std::vector<Connected> sockets = ConnectedSockets();
  base::AutoLock hold(lock_);
  socket_ = 0;
  peer_.clear();
  int found = 0;
  for (const Connected& candidate : sockets) {
    const bool known = std::any_of(
        before_connecting_.begin(), before_connecting_.end(),
        [&](const Connected& old) {
          return old.socket == candidate.socket && old.peer == candidate.peer;
        });
    if (known || !HasAddress(candidate.peer, address))
      continue;
    ++found;
    socket_ = candidate.socket;
    peer_ = candidate.peer;
  }
  before_connecting_.clear();
  if (found != 1) {
    LOG(WARNING) << found << " new sockets connected to " << address
                 << "; the request's is unknown";
    socket_ = 0;
    peer_.clear();
  }
}

bool RequestSocket::ShutDown() {
  base::AutoLock hold(lock_);
  const uintptr_t value = socket_;
  socket_ = 0;
  // The handle may have been closed and its value reused since.
  if (!value || PeerOf(value) != peer_)
    return false;
  if (::shutdown(static_cast<SOCKET>(value), SD_BOTH) != 0) {
    LOG(WARNING) << "Could not shut the request's connection down: "
                 << ::WSAGetLastError();
    return false;
  }
  VLOG(1) << "Shut the connection to " << peer_ << " down";
  return true;
}

}  // namespace installer
