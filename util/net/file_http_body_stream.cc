#include "util/net/file_http_body_stream.h"

#include "base/logging.h"

namespace util {

FileHttpBodyStream::FileHttpBodyStream(const base::FilePath& path)
    : path_(path) {}

FileHttpBodyStream::~FileHttpBodyStream() = default;

int64_t FileHttpBodyStream::GetBytesBuffer(char* buffer, size_t max_size) {
  switch (state_) {
    case State::kUnopened:
      if (!file_.Open(path_)) {
        state_ = State::kError;
        return -1;
      }
      state_ = State::kReading;
      break;
    case State::kError:
      return -1;
    case State::kAtEnd:
      return 0;
    case State::kReading:
      break;
  }
  const int64_t count = file_.Read(buffer, max_size);
  if (count < 0) {
    LOG(ERROR) << "read";
    state_ = State::kError;
    return -1;
  }
  if (count == 0) {
    file_.Close();
    state_ = State::kAtEnd;
  }
  return count;
}

}  // namespace util
