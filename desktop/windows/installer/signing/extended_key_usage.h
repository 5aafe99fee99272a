#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_EXTENDED_KEY_USAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_EXTENDED_KEY_USAGE_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>

namespace installer {

// The uses a certificate's extended key usage allows it, and a chain's:
// a certificate is good for a use only when no authority above it excludes
// that use. Windows' chain engine intersects the usages along a chain;
// Wine's does not, so a signer under an authority restricted to server
// authentication would pass as a code signer. A certificate without the
// extension allows every use, as does the purpose "any".
class ExtendedKeyUsage {
 public:
  enum class Purpose : uint8_t {
    kCodeSigning,
    kTimeStamping,
  };

  // Whether `value`, the DER inside the extension's octet string, names
  // `purpose` or any purpose. A value of another shape allows nothing.
  // Pure.
  static bool Allows(std::span<const uint8_t> value, Purpose purpose);
  // Whether `value` names `purpose` itself, as a time-stamping authority's
  // certificate must. Pure.
  static bool Names(std::span<const uint8_t> value, Purpose purpose);

  // Whether `certificate` carries the extension once, naming `purpose`.
  static bool CertificateNames(PCCERT_CONTEXT certificate, Purpose purpose);

  // CERT_TRUST_IS_NOT_VALID_FOR_USAGE when a certificate of `chain`, the
  // leaf or any authority up to the root, does not allow `purpose`; 0 when
  // each does. The status Windows' engine gives such a chain.
  static DWORD ChainStatus(const CERT_CHAIN_CONTEXT& chain, Purpose purpose);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_EXTENDED_KEY_USAGE_H_
