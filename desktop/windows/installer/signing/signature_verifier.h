#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_VERIFIER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_VERIFIER_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/signature_refusal.h"

namespace base {
class FilePath;
}

namespace installer {

class LockedFileView;
class PeImage;
class PublisherRoots;
class SignerReport;

// Whether `path` is a PE32 or PE32+ image; `has_certificate_table` tells
// whether its certificate-table directory entry has a size.
bool IsPortableExecutable(const base::FilePath& path,
                          bool* has_certificate_table);

// Why the file's Authenticode signature is refused (kNone: it holds): it
// must be valid for Windows, and one of its signers, or of its nested
// signatures, must be the branding's expected signer, proven by our own
// checks as Windows would prove it; with `roots`, that signer's chain must
// end in one of them (the publisher's), else in any root the machine
// trusts. The file is opened once and held, read-only, for every check.
// With `report_text`, appends what was tried and why it failed.
SignatureRefusal CheckFileSignature(const base::FilePath& path,
                                    const PublisherRoots* roots,
                                    std::string* report_text);
// The same for a file the caller holds; `path` only names it.
SignatureRefusal CheckHeldFileSignature(const LockedFileView& file,
                                        const base::FilePath& path,
                                        const PublisherRoots* roots,
                                        std::string* report_text);
// The same for the bytes of a file held open on `file`, which
// WinVerifyTrust reads.
SignatureRefusal CheckImageSignature(std::span<const uint8_t> bytes,
                                     HANDLE file,
                                     const base::FilePath& path,
                                     const PublisherRoots* roots,
                                     std::string* report_text);

// Whether CheckFileSignature finds nothing to refuse, the chain ending in
// any root the machine trusts.
bool VerifyFileSignature(const base::FilePath& path, std::string* report_text);
bool VerifyHeldFileSignature(const LockedFileView& file,
                             const base::FilePath& path,
                             std::string* report_text);

// Runs CheckSigners on the signature of `image`, appends the report (when
// `report_text` is given) and closes the store and the message.
SignatureRefusal CheckSignature(ScopedCertStore store,
                                ScopedCryptMsg message,
                                DWORD encoding,
                                const PeImage& image,
                                const PublisherRoots* roots,
                                std::string* report_text);

// Whether a signer of `message` at nesting `depth` is the expected signer,
// proven against `image` (its signature, digests and chain, ending in one
// of `roots` when given) by our own checks, not only by WinVerifyTrust's.
// When none is, the first refusal that says more than "another publisher"
// (a signer of the expected name that failed a check, a nested signature
// that cannot be read), else kOtherPublisher.
SignatureRefusal CheckSigners(HCERTSTORE store,
                              HCRYPTMSG message,
                              DWORD encoding,
                              const PeImage& image,
                              const PublisherRoots* roots,
                              SignerReport* report,
                              int depth);

// Appends the chain the machine's engine builds for `certificate`, each
// element by its common name and thumbprint. The certificate must come from
// a signature opened by OpenSignedMessage: the engine faults on shapes that
// only the walk's rules keep out.
void DescribeTrustChain(PCCERT_CONTEXT certificate, std::ostream& stream);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_VERIFIER_H_
