#include "base/strings/log_escape.h"

namespace base {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsPrintableAscii(unsigned char byte) {
  return byte >= 0x20 && byte < 0x7F;
}

}  // namespace

std::string EscapeForLog(std::string_view data, size_t limit) {
  const std::string_view shown = data.substr(0, limit);
  std::string escaped;
  escaped.reserve(shown.size());
  for (const char c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsPrintableAscii(byte)) {
      escaped += c;
      continue;
    }
    escaped += "\\x";
    escaped += kHexDigits[byte >> 4];
    escaped += kHexDigits[byte & 0xF];
  }
  if (shown.size() < data.size())
    escaped += "... (" + std::to_string(data.size()) + " bytes)";
  return escaped;
}

}  // namespace base
