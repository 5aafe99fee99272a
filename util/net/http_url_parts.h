#ifndef UTIL_NET_HTTP_URL_PARTS_H_
#define UTIL_NET_HTTP_URL_PARTS_H_

#include <cstdint>
#include <string>

namespace util {

// What a WinINet request to a crash server needs of its URL.
struct HttpUrlParts {
  bool secure = false;  // "https"
  std::wstring host;
  uint16_t port = 0;
  // The path with its query, as the URL spells it.
  std::wstring path;
};

// False unless the scheme is exactly "http" or "https", and the host and
// the path with its query each fit in 255 characters.
bool CrackHttpUrl(const std::wstring& url, HttpUrlParts* parts);

}  // namespace util

#endif  // UTIL_NET_HTTP_URL_PARTS_H_
