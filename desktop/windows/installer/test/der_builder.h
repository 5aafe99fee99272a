#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_DER_BUILDER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_DER_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

// DER put together from its parts, for the tests and tools that make
// signatures, certificates and names of chosen shapes. Lengths are always
// written in their shortest form, as DER wants.
namespace installer::der_builder {

using Bytes = std::vector<uint8_t>;

inline void AppendLength(size_t length, Bytes* out) {
  if (length < 0x80) {
    out->push_back(static_cast<uint8_t>(length));
    return;
  }
  int count = 0;
  for (size_t rest = length; rest; rest >>= 8)
    ++count;
  out->push_back(static_cast<uint8_t>(0x80 | count));
  for (int i = count - 1; i >= 0; --i)
    out->push_back(static_cast<uint8_t>(length >> (8 * i)));
}

inline Bytes Tlv(uint8_t tag, const Bytes& contents) {
  Bytes out = {tag};
  AppendLength(contents.size(), &out);
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Seq(std::initializer_list<Bytes> parts) {
  return Tlv(0x30, Cat(parts));
}
inline Bytes Set(std::initializer_list<Bytes> parts) {
  return Tlv(0x31, Cat(parts));
}
inline Bytes Oid(const Bytes& arcs) {
  return Tlv(0x06, arcs);
}

}  // namespace installer::der_builder

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_DER_BUILDER_H_
