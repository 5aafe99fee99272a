#ifndef UTIL_NET_HTTP_TRANSPORT_WIN_H_
#define UTIL_NET_HTTP_TRANSPORT_WIN_H_

#include <string>

#include "util/net/http_transport.h"

namespace util {

// The transport over WinHTTP. Every failing call is logged with the
// system's text for its error.
class HttpTransportWin : public HttpTransport {
 public:
  HttpTransportWin();
  ~HttpTransportWin() override;

  bool ExecuteSynchronously(std::string* response_body) override;
};

}  // namespace util

#endif  // UTIL_NET_HTTP_TRANSPORT_WIN_H_
