#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_VERIFICATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_VERIFICATION_H_

#include <windows.h>
#include <wincrypt.h>

#include <ostream>

namespace installer {

class PeImage;

// Judges a signer that WinVerifyTrust did not: one of a nested signature, or
// any but the first signer of the file's own signature. Such a signature is
// not covered by the file's own, so anyone can add one; before its name may
// count, it must hold as WinVerifyTrust would hold the primary one: the
// signer's signature over `message`, the Authenticode digest the message
// carries against the digest of `image`, and the certificate's chain
// (through `store` for intermediates) under the Authenticode policy.
// Writes the reason of a refusal to `report`.
bool VerifyUnjudgedSigner(HCRYPTMSG message,
                          DWORD signer_index,
                          const CMSG_SIGNER_INFO& signer_info,
                          PCCERT_CONTEXT certificate,
                          HCERTSTORE store,
                          const PeImage& image,
                          std::ostream& report);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_VERIFICATION_H_
