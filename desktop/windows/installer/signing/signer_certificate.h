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
// this very certificate; a name alone is not enough, as any certificate
// authority may issue one with the same name. Built from system calls alone,
// for the host executable too.
class SignerCertificate {
 public:
  // Empty (not signed) when `image` carries no certificate table, as a
  // development build does; null when it carries one that cannot be read.
  static std::optional<SignerCertificate> OfImage(
      std::span<const uint8_t> image);

  bool is_signed() const { return !encoded_.empty(); }

  // Whether the held `file`, named `path`, carries a signature that Windows
  // finds valid for its bytes, made by this certificate.
  SignerCheck Check(const HeldImageFile& file, const wchar_t* path) const;

  // Its name in a message or a log.
  static const char* Describe(SignerCheck check);

 private:
  explicit SignerCertificate(std::vector<uint8_t> encoded)
      : encoded_(std::move(encoded)) {}

  std::vector<uint8_t> encoded_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_CERTIFICATE_H_
