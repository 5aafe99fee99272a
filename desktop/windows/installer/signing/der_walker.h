#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_WALKER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_WALKER_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace installer {

// Walks a DER encoding, as a signature is, before the platform's decoder
// reads it: that decoder trusts what it is given, and some shapes crash it
// or damage its heap (under Wine, an empty object identifier does). The walk
// reads every element without decoding what it means: every length definite
// and within the element that holds it, constructed contents made of whole
// elements, low tag numbers only (PKCS #7 and X.509 use no others), object
// identifiers and the values of fixed or least size well formed, and the
// nesting bounded. A certificate extension's value, DER inside an octet
// string that the decoder reads when it builds a chain, is walked too, and
// held to the shape its type allows (CertificateExtensionRules): every
// certificate a signature carries, nested signatures' and time-stamps'
// included, passes the walk before any chain is built through it.
// Pure: no system calls.
class DerWalker {
 public:
  enum class Fault {
    kNone,
    // An element's header or contents run past what holds it.
    kTruncated,
    // The indefinite length form, or a length of more than four bytes.
    kUnsupportedLength,
    // A tag number of 31 or more (several tag bytes).
    kHighTagNumber,
    // An object identifier that is empty, ends inside an arc, pads an arc
    // or holds one beyond 32 bits.
    kMalformedObjectIdentifier,
    // A boolean, integer, enumerated, bit string or null of a size DER does
    // not give it (an empty bit string has no unused-bits count).
    kMalformedValue,
    kTooDeep,
    // Anything but the alignment's zeros after the one outer element, or
    // anything after the element of an extension's value.
    kTrailingBytes,
    // A certificate extension whose value is well formed, but of a shape
    // the standard does not allow its type (CertificateExtensionRules).
    kDisallowedExtension,
  };

  // Deeper than any certificate or signature nests, nested signatures
  // included.
  static constexpr int kMaxDepth = 64;
  // A signature in a certificate table is padded to 8 bytes with zeros.
  static constexpr size_t kMaxPadding = 7;

  // The first fault of `der`, one element followed by at most kMaxPadding
  // zero bytes, or kNone.
  static Fault Check(std::span<const uint8_t> der);

  static const char* Describe(Fault fault);

 private:
  struct Element {
    uint8_t tag;
    size_t contents_begin;
    size_t contents_end;
  };

  explicit DerWalker(std::span<const uint8_t> der) : der_(der) {}

  // The element whose header starts at `offset`, within [offset, end).
  Fault ReadElement(size_t offset, size_t end, Element* element) const;
  // The elements that make up [begin, end), each checked at `depth`.
  Fault WalkElements(size_t begin, size_t end, int depth) const;
  Fault CheckElement(const Element& element, int depth) const;
  Fault CheckObjectIdentifier(const Element& element) const;
  Fault CheckValueSize(const Element& element) const;
  // The extensions of a certificate's [3] field: each one's value, the
  // octet string that closes it, must hold one whole element, of a shape
  // its type allows.
  Fault CheckExtensions(const Element& field, int depth) const;
  Fault CheckExtension(const Element& extension, int depth) const;
  std::span<const uint8_t> Contents(const Element& element) const;

  std::span<const uint8_t> der_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_WALKER_H_
