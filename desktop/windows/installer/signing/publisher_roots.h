#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_PUBLISHER_ROOTS_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_PUBLISHER_ROOTS_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <vector>

namespace installer {

// The root certificates of the certificate authorities that issue the
// publisher's code-signing certificates (a release names them through a
// build option; a test build takes the test PKI's root): a file of another
// release is the publisher's when a signer of the expected name chains to
// one of them. A renewed certificate (a new key, the same name, the same
// authority) still does; a certificate of the same name from another
// authority, even one the machine trusts, does not.
class PublisherRoots {
 public:
  // The roots of DER bytes `roots`.
  static PublisherRoots FromEncoded(
      std::span<const std::span<const uint8_t>> roots);

  // Whether `chain`, as the chain engine built it, ends in one of the
  // roots: the last element of its last simple chain is one of them, byte
  // for byte. A name or a key alone proves nothing: any authority may
  // issue a root of the same name.
  bool EndsChain(PCCERT_CHAIN_CONTEXT chain) const;

  // The roots' bytes one after the other: what a verdict against them is
  // kept under (HeldFileRegistry).
  std::span<const uint8_t> encoded() const { return encoded_; }

 private:
  PublisherRoots() = default;

  bool Contains(std::span<const uint8_t> certificate) const;

  std::vector<std::vector<uint8_t>> roots_;
  std::vector<uint8_t> encoded_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_PUBLISHER_ROOTS_H_
