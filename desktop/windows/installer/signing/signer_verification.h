#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_VERIFICATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_VERIFICATION_H_

#include <windows.h>
#include <wincrypt.h>

#include <ostream>

#include "desktop/windows/installer/signing/signature_refusal.h"

namespace installer {

class PeImage;
class PublisherRoots;

// Proves a signer of a file's signature, or of one nested in it, before its
// name may count: the platform's trust check of the file may prove neither
// the signature nor the chain (Wine's passes a stale signature and a chain
// to a root nobody trusts), and a nested signature is covered by nothing.
// It holds as Windows holds a file's signer: the signer's signature over
// `message`, the content type it signs (Authenticode's), the message digest
// it signs against the content, the Authenticode digest the content states
// against the digest of `image`, and the certificate's chain (through
// `store` for intermediates) to a root the machine trusts, without any
// error, every certificate of it allowing code signing (ExtendedKeyUsage),
// under the Authenticode policy, judged at the time of the signer's proven
// time-stamp, else now (SignatureTimestamp); with `roots`, that root must
// be one of them. Writes the reason of a refusal to `report` and returns
// which check refused.
SignatureRefusal VerifySigner(HCRYPTMSG message,
                              DWORD signer_index,
                              const CMSG_SIGNER_INFO& signer_info,
                              PCCERT_CONTEXT certificate,
                              HCERTSTORE store,
                              const PeImage& image,
                              const PublisherRoots* roots,
                              std::ostream& report);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_VERIFICATION_H_
