#ifndef UTIL_NET_HTTP_HEADERS_H_
#define UTIL_NET_HTTP_HEADERS_H_

#include <map>
#include <string>

namespace util {

// Request headers, one value per name; setting a name again replaces it.
using HttpHeaders = std::map<std::string, std::string>;

}  // namespace util

#endif  // UTIL_NET_HTTP_HEADERS_H_
