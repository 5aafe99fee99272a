#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_CERTIFICATE_EXTENSION_RULES_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_CERTIFICATE_EXTENSION_RULES_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace installer {

// The shapes the standard allows the certificate extensions that the
// platform's chain engine reads as it builds a chain, held before any chain
// is built: that engine trusts what the decoder made of them, and a
// well-formed value of a shape no certificate authority issues can end the
// process (under Wine, a key usage that holds no bit does). The rules read
// what the DER walk has already found well formed. Pure: no system calls.
class CertificateExtensionRules {
 public:
  // Whether `value`, the one DER element inside an extension's octet
  // string, has a shape the standard allows the extension of type `type`
  // (the contents of its object identifier). A type without a rule holds.
  static bool Holds(std::span<const uint8_t> type,
                    std::span<const uint8_t> value);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_CERTIFICATE_EXTENSION_RULES_H_
