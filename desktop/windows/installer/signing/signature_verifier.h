#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_VERIFIER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_VERIFIER_H_

#include <windows.h>
#include <wincrypt.h>

#include <ostream>
#include <string>

#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"

namespace base {
class FilePath;
}

namespace installer {

class LockedFileView;
class PeImage;
class SignerReport;

// Whether `path` is a PE32 or PE32+ image; `has_certificate_table` tells
// whether its certificate-table directory entry has a size.
bool IsPortableExecutable(const base::FilePath& path,
                          bool* has_certificate_table);

// Whether the file's Authenticode signature is valid for Windows and one of
// its signers, or of its nested signatures, is the branding's expected
// signer, proven by our own checks as Windows would prove it. The file is opened once and held, read-only, for every check.
// With `report_text`, appends what was tried and why it failed.
bool VerifyFileSignature(const base::FilePath& path, std::string* report_text);
// The same for a file the caller holds; `path` only names it.
bool VerifyHeldFileSignature(const LockedFileView& file,
                             const base::FilePath& path,
                             std::string* report_text);

// Runs CheckSigners on the signature of `image`, appends the report (when
// `report_text` is given) and closes the store and the message.
bool CheckSignature(ScopedCertStore store,
                    ScopedCryptMsg message,
                    DWORD encoding,
                    const PeImage& image,
                    std::string* report_text);

// Whether a signer of `message` at nesting `depth` is the expected signer,
// proven against `image` (its signature, digests and chain) by our own
// checks, not only by WinVerifyTrust's.
bool CheckSigners(HCERTSTORE store,
                  HCRYPTMSG message,
                  DWORD encoding,
                  const PeImage& image,
                  SignerReport* report,
                  int depth);

// Appends the chain the machine's engine builds for `certificate`, each
// element by its common name and thumbprint. The certificate must come from
// a signature opened by OpenSignedMessage: the engine faults on shapes that
// only the walk's rules keep out.
void DescribeTrustChain(PCCERT_CONTEXT certificate, std::ostream& stream);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_VERIFIER_H_
