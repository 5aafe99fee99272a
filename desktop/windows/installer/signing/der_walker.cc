#include "desktop/windows/installer/signing/der_walker.h"

#include "desktop/windows/installer/signing/certificate_extension_rules.h"

namespace installer {

namespace {

constexpr uint8_t kConstructedBit = 0x20;
constexpr uint8_t kTagNumberMask = 0x1F;
constexpr uint8_t kLongLengthBit = 0x80;
constexpr size_t kMaxLengthBytes = 4;
constexpr uint8_t kObjectIdentifierTag = 0x06;
constexpr uint8_t kMoreArcBytesBit = 0x80;
// An arc of up to 32 bits takes five bytes of 7 bits, the first holding
// the top 4.
constexpr size_t kMaxArcBytes = 5;
constexpr uint8_t kMaxFirstOfFiveArcBytes = 0x8F;

constexpr uint8_t kBitStringTag = 0x03;
constexpr uint8_t kOctetStringTag = 0x04;
constexpr uint8_t kSequenceTag = 0x30;
// [3], where a certificate keeps its extensions.
constexpr uint8_t kExtensionsFieldTag = 0xA3;
constexpr uint8_t kMaxUnusedBits = 7;

// The sizes DER gives the universal values of fixed or least size; a
// decoder reads them without looking (an empty bit string's count of unused
// bits is read before its start under Wine).
struct ValueSize {
  uint8_t tag;
  size_t least;
  size_t most;
};
constexpr size_t kAnySize = ~size_t{0};
constexpr ValueSize kValueSizes[] = {
    {0x01, 1, 1},         // BOOLEAN
    {0x02, 1, kAnySize},  // INTEGER
    {kBitStringTag, 1, kAnySize},
    {0x05, 0, 0},         // NULL
    {0x0A, 1, kAnySize},  // ENUMERATED
};

}  // namespace

// static
DerWalker::Fault DerWalker::Check(std::span<const uint8_t> der) {
  const DerWalker walker(der);
  Element outer;
  if (const Fault fault = walker.ReadElement(0, der.size(), &outer);
      fault != Fault::kNone) {
    return fault;
  }
  if (const Fault fault = walker.CheckElement(outer, 1); fault != Fault::kNone)
    return fault;
  const std::span<const uint8_t> rest = der.subspan(outer.contents_end);
  if (rest.size() > kMaxPadding)
    return Fault::kTrailingBytes;
  for (uint8_t byte : rest) {
    if (byte != 0)
      return Fault::kTrailingBytes;
  }
  return Fault::kNone;
}

// static
const char* DerWalker::Describe(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "well formed";
    case Fault::kTruncated:
      return "an element runs past what holds it";
    case Fault::kUnsupportedLength:
      return "an indefinite or over-long length";
    case Fault::kHighTagNumber:
      return "a tag number of several bytes";
    case Fault::kMalformedObjectIdentifier:
      return "a malformed object identifier";
    case Fault::kMalformedValue:
      return "a value of a size its type does not allow";
    case Fault::kTooDeep:
      return "nested too deeply";
    case Fault::kTrailingBytes:
      return "bytes after the signature or an extension's value";
    case Fault::kDisallowedExtension:
      return "a certificate extension of a shape its type does not allow";
  }
  return "unknown";
}

DerWalker::Fault DerWalker::ReadElement(size_t offset,
                                        size_t end,
                                        Element* element) const {
  // A tag byte and a length byte at least.
  if (end - offset < 2)
    return Fault::kTruncated;
  element->tag = der_[offset];
  if ((element->tag & kTagNumberMask) == kTagNumberMask)
    return Fault::kHighTagNumber;
  const uint8_t first_length = der_[offset + 1];
  size_t position = offset + 2;
  uint64_t length = first_length;
  if (first_length & kLongLengthBit) {
    const size_t length_bytes = first_length & ~kLongLengthBit;
    // Zero length bytes is the indefinite form.
    if (length_bytes == 0 || length_bytes > kMaxLengthBytes)
      return Fault::kUnsupportedLength;
    if (end - position < length_bytes)
      return Fault::kTruncated;
    length = 0;
    for (size_t i = 0; i < length_bytes; ++i)
      length = (length << 8) | der_[position++];
  }
  if (length > end - position)
    return Fault::kTruncated;
  element->contents_begin = position;
  element->contents_end = position + static_cast<size_t>(length);
  return Fault::kNone;
}

DerWalker::Fault DerWalker::WalkElements(size_t begin,
                                         size_t end,
                                         int depth) const {
  size_t offset = begin;
  while (offset < end) {
    Element element;
    if (const Fault fault = ReadElement(offset, end, &element);
        fault != Fault::kNone) {
      return fault;
    }
    if (const Fault fault = CheckElement(element, depth); fault != Fault::kNone)
      return fault;
    offset = element.contents_end;
  }
  return Fault::kNone;
}

DerWalker::Fault DerWalker::CheckElement(const Element& element,
                                         int depth) const {
  if (depth > kMaxDepth)
    return Fault::kTooDeep;
  if (element.tag & kConstructedBit) {
    const Fault fault =
        WalkElements(element.contents_begin, element.contents_end, depth + 1);
    if (fault != Fault::kNone || element.tag != kExtensionsFieldTag)
      return fault;
    return CheckExtensions(element, depth + 1);
  }
  if (element.tag == kObjectIdentifierTag)
    return CheckObjectIdentifier(element);
  return CheckValueSize(element);
}

DerWalker::Fault DerWalker::CheckObjectIdentifier(
    const Element& element) const {
  const std::span<const uint8_t> arcs = der_.subspan(
      element.contents_begin, element.contents_end - element.contents_begin);
  if (arcs.empty() || (arcs.back() & kMoreArcBytesBit))
    return Fault::kMalformedObjectIdentifier;
  size_t arc_begin = 0;
  for (size_t i = 0; i < arcs.size(); ++i) {
    if (arcs[i] & kMoreArcBytesBit)
      continue;
    const size_t arc_bytes = i + 1 - arc_begin;
    // A leading 0x80 pads the arc; DER forbids it.
    if (arcs[arc_begin] == kMoreArcBytesBit || arc_bytes > kMaxArcBytes ||
        (arc_bytes == kMaxArcBytes &&
         arcs[arc_begin] > kMaxFirstOfFiveArcBytes)) {
      return Fault::kMalformedObjectIdentifier;
    }
    arc_begin = i + 1;
  }
  return Fault::kNone;
}

// The elements were walked already: only their places are read again here.
DerWalker::Fault DerWalker::CheckExtensions(const Element& field,
                                            int depth) const {
  Element extensions;
  if (ReadElement(field.contents_begin, field.contents_end, &extensions) !=
          Fault::kNone ||
      extensions.tag != kSequenceTag) {
    return Fault::kNone;
  }
  size_t offset = extensions.contents_begin;
  while (offset < extensions.contents_end) {
    Element extension;
    if (ReadElement(offset, extensions.contents_end, &extension) !=
        Fault::kNone) {
      return Fault::kNone;
    }
    if (extension.tag == kSequenceTag) {
      if (const Fault fault = CheckExtension(extension, depth + 1);
          fault != Fault::kNone) {
        return fault;
      }
    }
    offset = extension.contents_end;
  }
  return Fault::kNone;
}

DerWalker::Fault DerWalker::CheckExtension(const Element& extension,
                                           int depth) const {
  // The value closes the extension, after its type and criticality.
  Element type = {};
  Element value = {};
  size_t offset = extension.contents_begin;
  while (offset < extension.contents_end) {
    if (ReadElement(offset, extension.contents_end, &value) != Fault::kNone)
      return Fault::kNone;
    if (offset == extension.contents_begin)
      type = value;
    offset = value.contents_end;
  }
  if (value.tag != kOctetStringTag)
    return Fault::kNone;
  Element inner;
  if (const Fault fault =
          ReadElement(value.contents_begin, value.contents_end, &inner);
      fault != Fault::kNone) {
    return fault;
  }
  if (const Fault fault = CheckElement(inner, depth + 1); fault != Fault::kNone)
    return fault;
  if (inner.contents_end != value.contents_end)
    return Fault::kTrailingBytes;
  if (type.tag != kObjectIdentifierTag)
    return Fault::kNone;
  return CertificateExtensionRules::Holds(Contents(type), Contents(value))
             ? Fault::kNone
             : Fault::kDisallowedExtension;
}

std::span<const uint8_t> DerWalker::Contents(const Element& element) const {
  return der_.subspan(element.contents_begin,
                      element.contents_end - element.contents_begin);
}

DerWalker::Fault DerWalker::CheckValueSize(const Element& element) const {
  const size_t size = element.contents_end - element.contents_begin;
  for (const ValueSize& value : kValueSizes) {
    if (value.tag != element.tag)
      continue;
    if (size < value.least || size > value.most)
      return Fault::kMalformedValue;
    // The unused bits lie in the last byte; with no byte after the count
    // there is none to leave unused.
    if (element.tag == kBitStringTag &&
        (der_[element.contents_begin] > kMaxUnusedBits ||
         (size == 1 && der_[element.contents_begin] != 0))) {
      return Fault::kMalformedValue;
    }
    return Fault::kNone;
  }
  return Fault::kNone;
}

}  // namespace installer
