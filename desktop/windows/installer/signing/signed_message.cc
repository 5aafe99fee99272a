#include "desktop/windows/installer/signing/signed_message.h"

#include <algorithm>
#include <optional>

#include "desktop/windows/installer/signing/certificate_set.h"
#include "desktop/windows/installer/signing/der_reader.h"
#include "desktop/windows/installer/signing/der_walker.h"
#include "desktop/windows/installer/signing/signed_data_layout.h"

namespace installer {

namespace {

constexpr uint8_t kOctetString = 0x04;

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::ranges::equal(a, b);
}

std::span<const uint8_t> BlobBytes(const CRYPT_DATA_BLOB& blob) {
  return {blob.pbData, blob.cbData};
}

// The key identifier that `certificate`'s subject key identifier extension
// states (an octet string in the extension's value), or empty.
std::span<const uint8_t> SubjectKeyIdentifier(const CERT_INFO& certificate) {
  const CERT_EXTENSION* extension =
      ::CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER,
                          certificate.cExtension, certificate.rgExtension);
  if (!extension)
    return {};
  DerReader value(BlobBytes(extension->Value));
  const std::optional<DerReader::Element> key_identifier =
      value.Next(kOctetString);
  if (!key_identifier || !value.AtEnd())
    return {};
  return key_identifier->contents;
}

// Whether `signer`, a signer identifier, names `certificate`: its issuer,
// byte for byte as encoded, and serial number, as numbers (as Windows
// matches them), or the key identifier its subject key identifier
// extension states (a signer named by key identifier is one whose
// certificate carries that extension).
bool NamesCertificate(const CERT_ID& signer, const CERT_CONTEXT& certificate) {
  const CERT_INFO& info = *certificate.pCertInfo;
  switch (signer.dwIdChoice) {
    case CERT_ID_ISSUER_SERIAL_NUMBER:
      return SameBytes(BlobBytes(signer.IssuerSerialNumber.Issuer),
                       BlobBytes(info.Issuer)) &&
             ::CertCompareIntegerBlob(
                 const_cast<CRYPT_INTEGER_BLOB*>(
                     &signer.IssuerSerialNumber.SerialNumber),
                 const_cast<CRYPT_INTEGER_BLOB*>(&info.SerialNumber));
    case CERT_ID_KEY_IDENTIFIER: {
      const std::span<const uint8_t> key_identifier =
          SubjectKeyIdentifier(info);
      return !key_identifier.empty() &&
             SameBytes(BlobBytes(signer.KeyId), key_identifier);
    }
    default:
      return false;
  }
}

}  // namespace

namespace internal {

DWORD DecodeSignedMessage(std::span<const uint8_t> signature,
                          ScopedCertStore* store,
                          ScopedCryptMsg* message,
                          DWORD* encoding) {
  CERT_BLOB blob = {static_cast<DWORD>(signature.size()),
                    const_cast<BYTE*>(signature.data())};
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob,
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, encoding, nullptr,
                          nullptr, store->Receive(), message->Receive(),
                          nullptr)) {
    return ::GetLastError();
  }
  return 0;
}

}  // namespace internal

DWORD OpenSignedMessage(std::span<const uint8_t> signature,
                        ScopedCertStore* store,
                        ScopedCryptMsg* message,
                        DWORD* encoding) {
  if (signature.empty())
    return static_cast<DWORD>(TRUST_E_NOSIGNATURE);
  // The platform's decoder trusts the encoding's shape: a malformed one
  // read from a file can crash the process that reads it. It also takes a
  // signed data without its digest algorithms for whole.
  if (DerWalker::Check(signature) != DerWalker::Fault::kNone ||
      !SignedDataLayout::Read(signature)) {
    return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  }
  // Under Wine the decoder cannot read a certificate set that holds
  // anything but certificates: it is given the walked certificates alone.
  const std::optional<std::vector<uint8_t>> plain =
      CertificateSet::WithPlainCertificatesOnly(signature);
  return internal::DecodeSignedMessage(
      plain ? std::span<const uint8_t>(*plain) : signature, store, message,
      encoding);
}

bool GetMessageParam(HCRYPTMSG message,
                     DWORD type,
                     DWORD index,
                     std::vector<uint8_t>* value) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(message, type, index, nullptr, &size))
    return false;
  // The vector's storage comes from operator new, aligned for the pointers
  // that the parameter's structure holds.
  value->resize(size);
  if (!::CryptMsgGetParam(message, type, index, value->data(), &size))
    return false;
  value->resize(size);
  return true;
}

const CMSG_SIGNER_INFO* GetSignerInfo(HCRYPTMSG message,
                                      DWORD index,
                                      std::vector<uint8_t>* buffer) {
  if (!GetMessageParam(message, CMSG_SIGNER_INFO_PARAM, index, buffer))
    return nullptr;
  return reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer->data());
}

ScopedCertContext FindSignerCertificate(HCERTSTORE store,
                                        HCRYPTMSG message,
                                        DWORD index) {
  std::vector<uint8_t> buffer;
  if (!GetMessageParam(message, CMSG_CMS_SIGNER_INFO_PARAM, index, &buffer))
    return nullptr;
  return FindCertificateNamedBy(
      store,
      reinterpret_cast<const CMSG_CMS_SIGNER_INFO*>(buffer.data())->SignerId);
}

ScopedCertContext FindCertificateNamedBy(HCERTSTORE store,
                                         const CERT_ID& signer) {
  // Each certificate is held to the identifier here: the platform's search
  // by issuer and serial number also takes a certificate whose subject is
  // the named issuer (Wine's does), which is not the one the signer named.
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = ::CertEnumCertificatesInStore(store, certificate))) {
    if (NamesCertificate(signer, *certificate))
      return ScopedCertContext(certificate);
  }
  return nullptr;
}

}  // namespace installer
