#ifndef UTIL_NET_COMPOSITE_HTTP_BODY_STREAM_H_
#define UTIL_NET_COMPOSITE_HTTP_BODY_STREAM_H_

#include <memory>
#include <vector>

#include "util/net/http_body_stream.h"

namespace util {

// Several streams read one after the other as one body.
class CompositeHttpBodyStream : public HttpBodyStream {
 public:
  explicit CompositeHttpBodyStream(
      std::vector<std::unique_ptr<HttpBodyStream>> parts);
  ~CompositeHttpBodyStream() override;

  int64_t GetBytesBuffer(char* buffer, size_t max_size) override;

 private:
  std::vector<std::unique_ptr<HttpBodyStream>> parts_;
  size_t current_ = 0;
};

}  // namespace util

#endif  // UTIL_NET_COMPOSITE_HTTP_BODY_STREAM_H_
