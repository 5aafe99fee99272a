#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_ELEMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_ELEMENT_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace installer {

// One element of DER that the walk (DerWalker) has found well formed, for
// the readers that look into what it means. Every read is still bounded by
// the bytes it is given. Pure: no system calls.
struct DerElement {
  uint8_t tag = 0;
  std::span<const uint8_t> contents;
  // Where the next element of the same bytes starts.
  size_t end = 0;

  // The element whose header starts at `offset` of `der`; false when it
  // does not fit.
  static bool Read(std::span<const uint8_t> der,
                   size_t offset,
                   DerElement* element);
  // Reads the element at `*offset` of `fields` and moves past it when one
  // starts there with `tag`: an optional field's reader.
  static bool ReadTagged(std::span<const uint8_t> fields,
                         uint8_t tag,
                         size_t* offset,
                         DerElement* element);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_DER_ELEMENT_H_
