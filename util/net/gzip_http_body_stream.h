#ifndef UTIL_NET_GZIP_HTTP_BODY_STREAM_H_
#define UTIL_NET_GZIP_HTTP_BODY_STREAM_H_

#include <zlib.h>

#include <memory>

#include "util/net/http_body_stream.h"

namespace util {

// Another stream compressed on the fly into the gzip format
// ("Content-Encoding: gzip").
class GzipHttpBodyStream : public HttpBodyStream {
 public:
  explicit GzipHttpBodyStream(std::unique_ptr<HttpBodyStream> source);
  ~GzipHttpBodyStream() override;

  int64_t GetBytesBuffer(char* buffer, size_t max_size) override;

 private:
  enum class State { kUninitialized, kReadingInput, kInputDone, kFinished, kError };

  bool Initialize();
  bool RefillInput();

  std::unique_ptr<HttpBodyStream> source_;
  char input_[4096];
  z_stream zlib_ = {};
  State state_ = State::kUninitialized;
};

}  // namespace util

#endif  // UTIL_NET_GZIP_HTTP_BODY_STREAM_H_
