#ifndef UTIL_NET_HTTP_BODY_STREAM_H_
#define UTIL_NET_HTTP_BODY_STREAM_H_

#include <cstddef>
#include <cstdint>

namespace util {

// A request body produced piece by piece, so that a large file never has to
// sit in memory whole.
class HttpBodyStream {
 public:
  virtual ~HttpBodyStream() = default;

  // Writes up to `max_size` bytes to `buffer`: the count written, 0 once the
  // body has ended, -1 on an error (the stream is then unusable).
  virtual int64_t GetBytesBuffer(char* buffer, size_t max_size) = 0;
};

}  // namespace util

#endif  // UTIL_NET_HTTP_BODY_STREAM_H_
