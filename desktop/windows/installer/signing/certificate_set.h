#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_CERTIFICATE_SET_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_CERTIFICATE_SET_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace installer {

// The certificates a signature (or a time-stamp token, a signature of its
// own) carries for its signers, as the platform's decoder can read them.
// The set may hold, beside plain certificates, other choices: attribute
// certificates ([1], [2]), an obsolete extended form ([0]) or another
// format ([3]); a large time-stamping authority puts an attribute
// certificate into every token. Under Wine the decoder reads such a set
// wrongly or not at all: after the certificates it takes an attribute
// certificate for the revocation lists and makes no store of them, and any
// other place or choice fails the whole message. So the decoder is given
// the message with the set holding only its plain certificates. No
// signature covers the set, so what is proven stays what the signers
// signed; the other choices are dropped unread, never taken for a
// certificate. Pure: no system calls.
class CertificateSet {
 public:
  // `signature`, a walked (DerWalker) content info of signed data, with
  // its certificate set holding only the plain certificates, in their
  // order, and the field left out when none remains; everything else as
  // it was. None when the set holds nothing else, when there is none, or
  // when the signature is not of signed data's shape: the decoder then
  // reads it as it is.
  static std::optional<std::vector<uint8_t>> WithPlainCertificatesOnly(
      std::span<const uint8_t> signature);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_CERTIFICATE_SET_H_
