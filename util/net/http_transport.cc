#include "util/net/http_transport.h"

#include <utility>

#include "util/net/http_transport_win.h"

namespace util {

// static
std::unique_ptr<HttpTransport> HttpTransport::Create() {
  return std::make_unique<HttpTransportWin>();
}

HttpTransport::HttpTransport() = default;

HttpTransport::~HttpTransport() = default;

void HttpTransport::SetMethod(const std::string& method) {
  method_ = method;
}

void HttpTransport::SetURL(const std::string& url) {
  url_ = url;
}

void HttpTransport::SetHeader(const std::string& name,
                              const std::string& value) {
  headers_[name] = value;
}

void HttpTransport::SetBodyStream(std::unique_ptr<HttpBodyStream> body_stream) {
  body_stream_ = std::move(body_stream);
}

}  // namespace util
