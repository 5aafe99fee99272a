#ifndef UTIL_NET_FILE_HTTP_BODY_STREAM_H_
#define UTIL_NET_FILE_HTTP_BODY_STREAM_H_

#include "base/files/file_path.h"
#include "util/file/file_reader.h"
#include "util/net/http_body_stream.h"

namespace util {

// The contents of a file, opened at the first read and closed at its end.
class FileHttpBodyStream : public HttpBodyStream {
 public:
  explicit FileHttpBodyStream(const base::FilePath& path);
  ~FileHttpBodyStream() override;

  int64_t GetBytesBuffer(char* buffer, size_t max_size) override;

 private:
  enum class State { kUnopened, kError, kAtEnd, kReading };

  base::FilePath path_;
  FileReader file_;
  State state_ = State::kUnopened;
};

}  // namespace util

#endif  // UTIL_NET_FILE_HTTP_BODY_STREAM_H_
