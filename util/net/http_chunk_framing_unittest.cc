#include "util/net/http_chunk_framing.h"

#include <string>

#include "gtest/gtest.h"

namespace util {
namespace {

// Wine's WinHTTP drops a chunked body altogether, so the framing is checked
// here rather than at a server.
TEST(HttpChunkFramingTest, SizeInHexWithoutLeadingZeros) {
  struct {
    size_t size;
    const char* size_line;
  } const kCases[] = {
      {0, "0\r\n"}, {1, "1\r\n"}, {15, "f\r\n"}, {255, "ff\r\n"},
      {4096, "1000\r\n"}, {32768, "8000\r\n"},
  };
  for (const auto& test : kCases) {
    const std::string data(test.size, 'x');
    EXPECT_EQ(test.size_line + data + "\r\n",
              FrameHttpChunk(data.data(), data.size()))
        << test.size;
  }
}

}  // namespace
}  // namespace util
