#ifndef UTIL_NET_STRING_HTTP_BODY_STREAM_H_
#define UTIL_NET_STRING_HTTP_BODY_STREAM_H_

#include <string>

#include "util/net/http_body_stream.h"

namespace util {

// A body held in memory.
class StringHttpBodyStream : public HttpBodyStream {
 public:
  explicit StringHttpBodyStream(std::string bytes);
  ~StringHttpBodyStream() override;

  int64_t GetBytesBuffer(char* buffer, size_t max_size) override;

 private:
  std::string bytes_;
  size_t position_ = 0;
};

}  // namespace util

#endif  // UTIL_NET_STRING_HTTP_BODY_STREAM_H_
