#include "util/net/string_http_body_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace util {

StringHttpBodyStream::StringHttpBodyStream(std::string bytes)
    : bytes_(std::move(bytes)) {}

StringHttpBodyStream::~StringHttpBodyStream() = default;

int64_t StringHttpBodyStream::GetBytesBuffer(char* buffer, size_t max_size) {
  const size_t count = std::min(bytes_.size() - position_, max_size);
  std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  return static_cast<int64_t>(count);
}

}  // namespace util
