#include "desktop/windows/installer/signing/signer_certificate.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <utility>

#include "desktop/windows/installer/signing/held_file_registry.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signed_message.h"
#include "desktop/windows/installer/signing/signer_proof.h"

namespace installer {

namespace {

// The first signer of a signature, with the message and the store it is
// read from.
struct FirstSigner {
  ScopedCertStore store;
  ScopedCryptMsg message;
  std::vector<uint8_t> info_buffer;
  const CMSG_SIGNER_INFO* info = nullptr;
  ScopedCertContext certificate;

  std::span<const uint8_t> encoded() const {
    return {certificate->pbCertEncoded, certificate->cbCertEncoded};
  }
};

// Reads the first signer of `signature` (DER PKCS #7 signed data) and its
// certificate; false when either cannot be read.
bool ReadFirstSigner(std::span<const uint8_t> signature, FirstSigner* signer) {
  DWORD encoding = 0;
  if (OpenSignedMessage(signature, &signer->store, &signer->message,
                        &encoding) != 0) {
    return false;
  }
  signer->info = GetSignerInfo(signer->message.Get(), 0, &signer->info_buffer);
  if (!signer->info)
    return false;
  signer->certificate =
      FindSignerCertificate(signer->store.Get(), signer->message.Get(), 0);
  return signer->certificate != nullptr;
}

}  // namespace

// static
SignerCertificate SignerCertificate::FromEncoded(
    std::span<const uint8_t> encoded) {
  return SignerCertificate(std::vector<uint8_t>(encoded.begin(), encoded.end()));
}

std::optional<SignerCertificate> SignerCertificate::OfImage(
    std::span<const uint8_t> image) {
  const std::optional<PeImage> parsed = PeImage::Parse(image);
  if (!parsed)
    return std::nullopt;
  if (!parsed->has_certificate_table())
    return SignerCertificate(std::vector<uint8_t>());
  FirstSigner signer;
  if (!ReadFirstSigner(parsed->GetEmbeddedSignature(), &signer))
    return std::nullopt;
  const std::span<const uint8_t> encoded = signer.encoded();
  return SignerCertificate(std::vector<uint8_t>(encoded.begin(), encoded.end()));
}

SignatureRefusal SignerCertificate::Check(const HeldImageFile& file) const {
  HeldFileRegistry& registry = HeldFileRegistry::Get();
  const std::optional<HeldFileIdentity>& identity = file.identity();
  if (identity) {
    if (const std::optional<SignatureRefusal> known = registry.FindVerdict(
            *identity, HeldFileJudge::kCertificate, encoded_)) {
      return *known;
    }
  }
  const SignatureRefusal verdict = Judge(file);
  if (identity) {
    registry.RememberVerdict(*identity, HeldFileJudge::kCertificate, encoded_,
                             verdict);
  }
  return verdict;
}

SignatureRefusal SignerCertificate::Judge(const HeldImageFile& file) const {
  // The digest reads the held file in bounded pieces, not its whole view.
  const std::optional<PeImage> image =
      PeImage::Parse(file.bytes(), file.handle());
  if (!image)
    return SignatureRefusal::kMalformed;
  if (!image->has_certificate_table())
    return SignatureRefusal::kNotSigned;
  FirstSigner signer;
  if (!ReadFirstSigner(image->GetEmbeddedSignature(), &signer))
    return SignatureRefusal::kMalformed;
  const bool same_certificate = std::ranges::equal(signer.encoded(), encoded_);
  // Ours is proven with the publisher's own key. Another's is proven with
  // the key of the certificate the file names, only to tell a valid
  // signature of another signer from a broken one.
  ScopedCertContext own;
  if (same_certificate) {
    own.reset(::CertCreateCertificateContext(
        X509_ASN_ENCODING, encoded_.data(), static_cast<DWORD>(encoded_.size())));
  }
  const PCCERT_CONTEXT key =
      same_certificate ? own.get() : signer.certificate.get();
  if (!key)
    return SignatureRefusal::kMalformed;
  const SignerProof proof =
      ProveSigner(signer.message.Get(), 0, *signer.info, key, *image);
  if (!proof.holds())
    return RefusalOfProofFault(proof.fault);
  return same_certificate ? SignatureRefusal::kNone
                          : SignatureRefusal::kOtherPublisher;
}

const char* SignerCertificate::Describe(SignatureRefusal check) {
  switch (check) {
    case SignatureRefusal::kNone:
      return "signed by this program's signer";
    case SignatureRefusal::kNotSigned:
      return "not signed";
    case SignatureRefusal::kMalformed:
    case SignatureRefusal::kChanged:
    case SignatureRefusal::kExpired:
    case SignatureRefusal::kUntrusted:
      return "not validly signed";
    case SignatureRefusal::kOtherPublisher:
      return "signed by another signer";
  }
  return "unknown";
}

}  // namespace installer
