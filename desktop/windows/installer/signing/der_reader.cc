#include "desktop/windows/installer/signing/der_reader.h"

namespace installer {

namespace {

constexpr uint8_t kHighTagNumber = 0x1F;
constexpr size_t kMaxLengthBytes = 4;

}  // namespace

std::optional<DerReader::Element> DerReader::Next() {
  const std::span<const uint8_t> der = rest_;
  rest_ = {};
  if (der.size() < 2 || (der[0] & kHighTagNumber) == kHighTagNumber)
    return std::nullopt;
  size_t header = 2;
  size_t length = der[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > kMaxLengthBytes || der.size() < header + count)
      return std::nullopt;
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = length << 8 | der[header + i];
    header += count;
  }
  if (length > der.size() - header)
    return std::nullopt;
  Element element;
  element.tag = der[0];
  element.contents = der.subspan(header, length);
  element.encoded = der.first(header + length);
  rest_ = der.subspan(header + length);
  return element;
}

std::optional<DerReader::Element> DerReader::Next(uint8_t tag) {
  std::optional<Element> element = Next();
  if (element && element->tag == tag)
    return element;
  rest_ = {};
  return std::nullopt;
}

std::optional<DerReader::Element> DerReader::Find(uint8_t tag) {
  while (!AtEnd()) {
    std::optional<Element> element = Next();
    if (element && element->tag == tag)
      return element;
  }
  return std::nullopt;
}

std::optional<std::string> DerReader::ObjectIdentifierText(
    std::span<const uint8_t> contents) {
  if (contents.empty())
    return std::nullopt;
  std::string text;
  uint64_t arc = 0;
  bool first = true;
  bool arc_started = false;
  for (const uint8_t byte : contents) {
    // A leading 0x80 pads the arc: DER has none.
    if (!arc_started && byte == 0x80)
      return std::nullopt;
    arc = arc << 7 | (byte & 0x7F);
    arc_started = true;
    if (arc > UINT32_MAX)
      return std::nullopt;
    if (byte & 0x80)
      continue;
    if (first) {
      // The first byte holds two arcs: 40 * first + second.
      const uint64_t top = arc < 80 ? arc / 40 : 2;
      text = std::to_string(top) + "." + std::to_string(arc - 40 * top);
      first = false;
    } else {
      text += "." + std::to_string(arc);
    }
    arc = 0;
    arc_started = false;
  }
  if (arc_started)
    return std::nullopt;
  return text;
}

}  // namespace installer
