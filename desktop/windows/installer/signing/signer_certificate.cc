#include "desktop/windows/installer/signing/signer_certificate.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <utility>

#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/trust_verdict.h"

namespace installer {

namespace {

// The encoded certificate of the first signer of `signature` (DER PKCS #7
// signed data); empty when it cannot be read.
std::vector<uint8_t> ReadFirstSigner(std::span<const uint8_t> signature) {
  if (signature.empty())
    return {};
  CERT_BLOB blob = {static_cast<DWORD>(signature.size()),
                    const_cast<BYTE*>(signature.data())};
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob,
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, nullptr,
                          nullptr, store.Receive(), message.Receive(),
                          nullptr)) {
    return {};
  }
  DWORD size = 0;
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0,
                          nullptr, &size)) {
    return {};
  }
  // The vector's storage comes from operator new, aligned for the pointers
  // that CERT_INFO holds.
  std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) /
                               sizeof(uint64_t));
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0,
                          buffer.data(), &size)) {
    return {};
  }
  const ScopedCertContext certificate(::CertGetSubjectCertificateFromStore(
      store.Get(), encoding, reinterpret_cast<CERT_INFO*>(buffer.data())));
  if (!certificate)
    return {};
  return std::vector<uint8_t>(
      certificate->pbCertEncoded,
      certificate->pbCertEncoded + certificate->cbCertEncoded);
}

}  // namespace

std::optional<SignerCertificate> SignerCertificate::OfImage(
    std::span<const uint8_t> image) {
  const std::optional<PeImage> parsed = PeImage::Parse(image);
  if (!parsed)
    return std::nullopt;
  if (!parsed->has_certificate_table())
    return SignerCertificate(std::vector<uint8_t>());
  std::vector<uint8_t> encoded = ReadFirstSigner(parsed->GetEmbeddedSignature());
  if (encoded.empty())
    return std::nullopt;
  return SignerCertificate(std::move(encoded));
}

SignerCheck SignerCertificate::Check(const HeldImageFile& file,
                                     const wchar_t* path) const {
  const std::optional<SignerCertificate> signer = OfImage(file.bytes());
  if (!signer)
    return SignerCheck::kInvalidSignature;
  if (!signer->is_signed())
    return SignerCheck::kUnsigned;
  // The certificate is read from the held bytes, the same that WinVerifyTrust
  // judges through the handle.
  if (GetTrustVerdict(file.handle(), path) != ERROR_SUCCESS)
    return SignerCheck::kInvalidSignature;
  return signer->encoded_ == encoded_ ? SignerCheck::kSameSigner
                                      : SignerCheck::kOtherSigner;
}

const char* SignerCertificate::Describe(SignerCheck check) {
  switch (check) {
    case SignerCheck::kSameSigner:
      return "signed by this program's signer";
    case SignerCheck::kUnsigned:
      return "not signed";
    case SignerCheck::kInvalidSignature:
      return "not validly signed";
    case SignerCheck::kOtherSigner:
      return "signed by another signer";
  }
  return "unknown";
}

}  // namespace installer
