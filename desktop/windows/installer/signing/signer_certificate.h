#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace installer {

class HeldImageFile;

// What holding a file against a program's signer found.
enum class SignerCheck : uint8_t {
  kSameSigner,
  // The file carries no signature.
  kUnsigned,
  // Not an image, or its signature does not hold for its bytes.
  kInvalidSignature,
  // A valid signature, of another certificate.
  kOtherSigner,
};

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

  // Whether the held `file` carries a signature made by this certificate
  // that holds for its bytes: the file's first signer is this certificate,
  // byte for byte, its signature verifies with this certificate's key, and
  // the message digest it signs and the image digest that states are the
  // file's. A file is checked once while it is held (HeldFileRegistry).
  SignerCheck Check(const HeldImageFile& file) const;

  // Its name in a message or a log.
  static const char* Describe(SignerCheck check);

 private:
  explicit SignerCertificate(std::vector<uint8_t> encoded)
      : encoded_(std::move(encoded)) {}

  SignerCheck Judge(std::span<const uint8_t> file) const;

  std::vector<uint8_t> encoded_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_
