#ifndef UTIL_NET_HTTP_TRANSPORT_H_
#define UTIL_NET_HTTP_TRANSPORT_H_

#include <memory>
#include <string>

#include "util/net/http_body_stream.h"
#include "util/net/http_headers.h"

namespace util {

// One HTTP request with a streamed body, sent synchronously. Set the URL,
// headers and body, then execute once.
class HttpTransport {
 public:
  // The platform's transport (WinHTTP).
  static std::unique_ptr<HttpTransport> Create();

  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;
  virtual ~HttpTransport();

  // True only for a 200 answer whose body, when asked for, was read whole.
  virtual bool ExecuteSynchronously(std::string* response_body) = 0;

  // "POST" unless set.
  void SetMethod(const std::string& method);
  // UTF-8.
  void SetURL(const std::string& url);
  // A "Content-Length" header gives the body's length; without one the body
  // goes in chunks.
  void SetHeader(const std::string& name, const std::string& value);
  void SetBodyStream(std::unique_ptr<HttpBodyStream> body_stream);

 protected:
  HttpTransport();

  const std::string& method() const { return method_; }
  const std::string& url() const { return url_; }
  const HttpHeaders& headers() const { return headers_; }
  HttpBodyStream* body_stream() const { return body_stream_.get(); }
  double timeout() const { return timeout_; }

 private:
  std::string method_ = "POST";
  std::string url_;
  HttpHeaders headers_;
  std::unique_ptr<HttpBodyStream> body_stream_;
  // Seconds, for resolving, connecting, sending and receiving each.
  double timeout_ = 15.0;
};

}  // namespace util

#endif  // UTIL_NET_HTTP_TRANSPORT_H_
