#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "desktop/windows/installer/signing/signature_refusal.h"

namespace installer {

class HeldImageFile;

// The certificate that signed a program: the first signer of the signature
// the image carries. The product's own code is signed with one certificate,
// so what an elevated process runs or loads must carry a valid signature of
// this very certificate (BuildPublisher's); a name alone is not enough, as
// any certificate authority may issue one with the same name. No
// certificate chain is built for that: the certificate is the one the build
// compiled in, and a chain would only say again who it is (at a cost, under
// Wine, of most of a second per file). Built from system calls alone.
class SignerCertificate {
 public:
  // The certificate of DER bytes `encoded`.
  static SignerCertificate FromEncoded(std::span<const uint8_t> encoded);

  // The first signer of `image`: empty (not signed) when it carries no
  // certificate table; null when it carries one that cannot be read. For
  // the tools that judge files as a program signed so would: no decision
  // of the installer rests on a certificate read from a file.
  static std::optional<SignerCertificate> OfImage(
      std::span<const uint8_t> image);

  bool is_signed() const { return !encoded_.empty(); }

  // Why the held `file` does not carry a signature made by this certificate
  // that holds for its bytes (kNone: it does): the file's first signer is
  // this certificate, byte for byte, its signature verifies with this
  // certificate's key, it signs Authenticode's content type, and the
  // message digest it signs and the image digest that states are the
  // file's. Another certificate is kOtherPublisher,
  // however valid its signature; not an image or a signature that cannot be
  // read, kMalformed. A file is checked once while it is held
  // (HeldFileRegistry).
  SignatureRefusal Check(const HeldImageFile& file) const;

  // The verdict in a message or a log: "signed by this program's signer",
  // "not signed", "not validly signed", "signed by another signer".
  static const char* Describe(SignatureRefusal check);

 private:
  explicit SignerCertificate(std::vector<uint8_t> encoded)
      : encoded_(std::move(encoded)) {}

  SignatureRefusal Judge(const HeldImageFile& file) const;

  std::vector<uint8_t> encoded_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_
