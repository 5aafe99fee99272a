#include "desktop/windows/installer/signing/signed_message.h"

#include <optional>

#include "desktop/windows/installer/signing/certificate_set.h"
#include "desktop/windows/installer/signing/der_walker.h"

namespace installer {

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
  // read from a file can crash the process that reads it.
  if (DerWalker::Check(signature) != DerWalker::Fault::kNone)
    return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  // Under Wine the decoder cannot read a certificate set that holds
  // anything but certificates: it is given the walked certificates alone.
  const std::optional<std::vector<uint8_t>> plain =
      CertificateSet::WithPlainCertificatesOnly(signature);
  return internal::DecodeSignedMessage(
      plain ? std::span<const uint8_t>(*plain) : signature, store, message,
      encoding);
}

const CMSG_SIGNER_INFO* GetSignerInfo(HCRYPTMSG message,
                                      DWORD index,
                                      std::vector<uint8_t>* buffer) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr,
                          &size)) {
    return nullptr;
  }
  // The vector's storage comes from operator new, aligned for the pointers
  // that CMSG_SIGNER_INFO holds.
  buffer->resize(size);
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index,
                          buffer->data(), &size)) {
    return nullptr;
  }
  return reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer->data());
}

ScopedCertContext FindSignerCertificate(HCERTSTORE store,
                                        DWORD encoding,
                                        const CMSG_SIGNER_INFO& info) {
  CERT_INFO wanted = {};
  wanted.Issuer = info.Issuer;
  wanted.SerialNumber = info.SerialNumber;
  return ScopedCertContext(::CertFindCertificateInStore(
      store, encoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
}

}  // namespace installer
