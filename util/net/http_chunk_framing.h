#ifndef UTIL_NET_HTTP_CHUNK_FRAMING_H_
#define UTIL_NET_HTTP_CHUNK_FRAMING_H_

#include <cstddef>
#include <string>

namespace util {

// One chunk of a "Transfer-Encoding: chunked" body: the size in lower-case
// hexadecimal without leading zeros, CRLF, the bytes, CRLF. A size of 0 is
// the chunk that ends the body.
std::string FrameHttpChunk(const char* data, size_t size);

}  // namespace util

#endif  // UTIL_NET_HTTP_CHUNK_FRAMING_H_
