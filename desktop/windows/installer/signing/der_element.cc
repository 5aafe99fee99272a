#include "desktop/windows/installer/signing/der_element.h"

namespace installer {

namespace {

constexpr uint8_t kLongLengthBit = 0x80;
constexpr size_t kMaxLengthBytes = 4;

}  // namespace

// static
bool DerElement::Read(std::span<const uint8_t> der,
                      size_t offset,
                      DerElement* element) {
  if (offset > der.size() || der.size() - offset < 2)
    return false;
  element->tag = der[offset];
  size_t position = offset + 2;
  size_t length = der[offset + 1];
  if (length & kLongLengthBit) {
    const size_t length_bytes = length & ~size_t{kLongLengthBit};
    if (length_bytes == 0 || length_bytes > kMaxLengthBytes ||
        der.size() - position < length_bytes) {
      return false;
    }
    length = 0;
    for (size_t i = 0; i < length_bytes; ++i)
      length = (length << 8) | der[position++];
  }
  if (length > der.size() - position)
    return false;
  element->contents = der.subspan(position, length);
  element->end = position + length;
  return true;
}

// static
bool DerElement::ReadTagged(std::span<const uint8_t> fields,
                            uint8_t tag,
                            size_t* offset,
                            DerElement* element) {
  if (!Read(fields, *offset, element) || element->tag != tag)
    return false;
  *offset = element->end;
  return true;
}

}  // namespace installer
