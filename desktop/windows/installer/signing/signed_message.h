#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_MESSAGE_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <vector>

#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"

// Reading a PKCS #7 signed-data blob (a file's signature, or one nested in
// it) through CryptoAPI. Built from system calls alone, for the host
// executable too.

namespace installer {

// Opens `signature` as a message and the store of the certificates it
// carries, once its DER shape holds (DerWalker) and every field of its
// signed data is in its place (SignedDataLayout): its plain certificates
// alone, the set's other choices dropped (CertificateSet). Neither keeps a
// pointer into `signature`. The Windows error on failure
// (TRUST_E_NOSIGNATURE when it is empty, CRYPT_E_ASN1_CORRUPT when its
// shape does not hold), else 0.
[[nodiscard]] DWORD OpenSignedMessage(std::span<const uint8_t> signature,
                                      ScopedCertStore* store,
                                      ScopedCryptMsg* message,
                                      DWORD* encoding);

namespace internal {
// The platform's decoder on `signature` with no walk first: only for the
// fuzz tool, which measures what the walk keeps from it.
[[nodiscard]] DWORD DecodeSignedMessage(std::span<const uint8_t> signature,
                                        ScopedCertStore* store,
                                        ScopedCryptMsg* message,
                                        DWORD* encoding);
}  // namespace internal

// The parameter `type` of `index` of `message` (CryptMsgGetParam) into
// `value`, sized to it; false with the Windows error as the last error.
bool GetMessageParam(HCRYPTMSG message,
                     DWORD type,
                     DWORD index,
                     std::vector<uint8_t>* value);

// The signer information of `index` in `message`, kept in `buffer`; null
// with the Windows error as the last error.
const CMSG_SIGNER_INFO* GetSignerInfo(HCRYPTMSG message,
                                      DWORD index,
                                      std::vector<uint8_t>* buffer);

// The certificate in `store` that signer `index` of `message` names by its
// signer identifier, or null (FindCertificateNamedBy).
ScopedCertContext FindSignerCertificate(HCERTSTORE store,
                                        HCRYPTMSG message,
                                        DWORD index);

// The certificate in `store` that the signer identifier `signer` names:
// its issuer and serial number, or its subject key identifier, each
// compared with the certificate's own; null when none is named.
ScopedCertContext FindCertificateNamedBy(HCERTSTORE store,
                                         const CERT_ID& signer);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_MESSAGE_H_
