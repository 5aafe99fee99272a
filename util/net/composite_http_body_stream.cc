#include "util/net/composite_http_body_stream.h"

#include <utility>

namespace util {

CompositeHttpBodyStream::CompositeHttpBodyStream(
    std::vector<std::unique_ptr<HttpBodyStream>> parts)
    : parts_(std::move(parts)) {}

CompositeHttpBodyStream::~CompositeHttpBodyStream() = default;

int64_t CompositeHttpBodyStream::GetBytesBuffer(char* buffer,
                                                size_t max_size) {
  size_t filled = 0;
  while (filled < max_size && current_ < parts_.size()) {
    const int64_t count =
        parts_[current_]->GetBytesBuffer(buffer + filled, max_size - filled);
    if (count < 0)
      return count;
    if (count == 0)
      ++current_;
    filled += static_cast<size_t>(count);
  }
  return static_cast<int64_t>(filled);
}

}  // namespace util
