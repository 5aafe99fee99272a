#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_READER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace installer {

// Reads DER elements one after another from bytes that nobody has walked
// (DerWalker) yet, such as a time-stamp's token info, which a signature
// carries inside an octet string: every length definite, of at most four
// bytes and within what holds it; low tag numbers only. It does not judge
// what the elements mean. Pure: no system calls.
class DerReader {
 public:
  struct Element {
    uint8_t tag = 0;
    std::span<const uint8_t> contents;
    // The header and the contents.
    std::span<const uint8_t> encoded;
  };

  explicit DerReader(std::span<const uint8_t> der) : rest_(der) {}

  // The next element, if one whole element comes next; otherwise none, and
  // the reader is spent.
  std::optional<Element> Next();
  // The next element, if it has `tag`; otherwise none, and the reader is
  // spent.
  std::optional<Element> Next(uint8_t tag);
  // Skips elements up to the first of `tag`; none when there is none.
  std::optional<Element> Find(uint8_t tag);
  bool AtEnd() const { return rest_.empty(); }

  // The dotted text of an object identifier's contents ("1.2.840...");
  // none if an arc is padded, unended or beyond 32 bits.
  static std::optional<std::string> ObjectIdentifierText(
      std::span<const uint8_t> contents);

 private:
  std::span<const uint8_t> rest_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_READER_H_
