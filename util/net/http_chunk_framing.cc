#include "util/net/http_chunk_framing.h"

#include "base/strings/string_format.h"

namespace util {

std::string FrameHttpChunk(const char* data, size_t size) {
  std::string chunk = base::FormatString("%zx\r\n", size);
  chunk.append(data, size);
  chunk += "\r\n";
  return chunk;
}

}  // namespace util
