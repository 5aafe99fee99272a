#include "desktop/windows/installer/signing/certificate_extension_rules.h"

#include <algorithm>

#include "desktop/windows/installer/signing/der_element.h"

namespace installer {

namespace {

constexpr uint8_t kBooleanTag = 0x01;
constexpr uint8_t kIntegerTag = 0x02;
constexpr uint8_t kBitStringTag = 0x03;
constexpr uint8_t kObjectIdentifierTag = 0x06;
constexpr uint8_t kSequenceTag = 0x30;
constexpr uint8_t kSignBit = 0x80;
// A path length the decoder keeps in 32 bits, its sign bit clear.
constexpr size_t kMaxPathLengthBytes = 4;

// Object identifier contents of the types with a rule.
constexpr uint8_t kKeyUsage[] = {0x55, 0x1D, 0x0F};
constexpr uint8_t kBasicConstraints[] = {0x55, 0x1D, 0x13};
// The first version's, which the platform still reads.
constexpr uint8_t kLegacyBasicConstraints[] = {0x55, 0x1D, 0x0A};
constexpr uint8_t kExtendedKeyUsage[] = {0x55, 0x1D, 0x25};
constexpr uint8_t kNetscapeCertificateType[] = {0x60, 0x86, 0x48, 0x01, 0x86,
                                                0xF8, 0x42, 0x01, 0x01};

// Key usage names nine bits: two bytes hold them.
constexpr size_t kMaxKeyUsageBytes = 2;
// The legacy subject type names two bits, the certificate type eight.
constexpr size_t kMaxSubjectTypeBytes = 1;
constexpr size_t kMaxCertificateTypeBytes = 1;

bool SameType(std::span<const uint8_t> type, std::span<const uint8_t> rule) {
  return std::ranges::equal(type, rule);
}

// A bit string of `least` to `most` bytes after its count of unused bits.
bool IsBitString(const DerElement& element, size_t least, size_t most) {
  // The walk has held the count of unused bits already.
  const size_t size = element.contents.size();
  return element.tag == kBitStringTag && size >= 1 + least && size <= 1 + most;
}

// One bit set at least among those the bit string uses.
bool HasSetBit(const DerElement& bit_string) {
  const std::span<const uint8_t> bits = bit_string.contents.subspan(1);
  const uint8_t unused = bit_string.contents[0];
  const uint8_t used_of_last =
      static_cast<uint8_t>(0xFF << std::min<uint8_t>(unused, 7));
  for (size_t i = 0; i < bits.size(); ++i) {
    const uint8_t mask = i + 1 == bits.size() ? used_of_last : 0xFF;
    if (bits[i] & mask)
      return true;
  }
  return false;
}

// A non-negative integer that fits 32 bits, as the decoder keeps it.
bool IsPathLength(const DerElement& element) {
  return element.tag == kIntegerTag && !element.contents.empty() &&
         element.contents.size() <= kMaxPathLengthBytes &&
         !(element.contents[0] & kSignBit);
}

bool HoldsKeyUsage(const DerElement& value) {
  // A key usage that names no use is forbidden; the decoder hands the
  // engine one of no byte, which it reads all the same.
  return IsBitString(value, 1, kMaxKeyUsageBytes) && HasSetBit(value);
}

bool HoldsBasicConstraints(const DerElement& value) {
  if (value.tag != kSequenceTag)
    return false;
  // An optional flag, then an optional path length, nothing else.
  const std::span<const uint8_t> fields = value.contents;
  size_t offset = 0;
  DerElement field;
  DerElement::ReadTagged(fields, kBooleanTag, &offset, &field);
  if (DerElement::ReadTagged(fields, kIntegerTag, &offset, &field) &&
      !IsPathLength(field)) {
    return false;
  }
  return offset == fields.size();
}

bool HoldsLegacyBasicConstraints(const DerElement& value) {
  if (value.tag != kSequenceTag)
    return false;
  // The subject type, then an optional path length and optional subtrees.
  const std::span<const uint8_t> fields = value.contents;
  size_t offset = 0;
  DerElement field;
  if (!DerElement::ReadTagged(fields, kBitStringTag, &offset, &field) ||
      !IsBitString(field, 1, kMaxSubjectTypeBytes)) {
    return false;
  }
  if (DerElement::ReadTagged(fields, kIntegerTag, &offset, &field) &&
      !IsPathLength(field)) {
    return false;
  }
  DerElement::ReadTagged(fields, kSequenceTag, &offset, &field);
  return offset == fields.size();
}

bool HoldsExtendedKeyUsage(const DerElement& value) {
  if (value.tag != kSequenceTag || value.contents.empty())
    return false;
  // One purpose at least, and only purposes.
  for (size_t offset = 0; offset < value.contents.size();) {
    DerElement purpose;
    if (!DerElement::Read(value.contents, offset, &purpose) ||
        purpose.tag != kObjectIdentifierTag) {
      return false;
    }
    offset = purpose.end;
  }
  return true;
}

bool HoldsCertificateType(const DerElement& value) {
  return IsBitString(value, 1, kMaxCertificateTypeBytes);
}

}  // namespace

// static
bool CertificateExtensionRules::Holds(std::span<const uint8_t> type,
                                      std::span<const uint8_t> value) {
  struct Rule {
    std::span<const uint8_t> type;
    bool (*holds)(const DerElement& value);
  };
  static constexpr Rule kRules[] = {
      {kKeyUsage, &HoldsKeyUsage},
      {kBasicConstraints, &HoldsBasicConstraints},
      {kLegacyBasicConstraints, &HoldsLegacyBasicConstraints},
      {kExtendedKeyUsage, &HoldsExtendedKeyUsage},
      {kNetscapeCertificateType, &HoldsCertificateType},
  };
  for (const Rule& rule : kRules) {
    if (!SameType(type, rule.type))
      continue;
    DerElement element;
    return DerElement::Read(value, 0, &element) &&
           element.end == value.size() && rule.holds(element);
  }
  return true;
}

}  // namespace installer
