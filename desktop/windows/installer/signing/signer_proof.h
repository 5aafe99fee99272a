#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_PROOF_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_PROOF_H_

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <vector>

namespace installer {

class PeImage;

// Why a signer's signature does not vouch for an image.
enum class SignerProofFault : uint8_t {
  kNone,
  kSignatureInvalid,
  kNoMessageDigest,
  kContentTypeNotSigned,
  kContentUnreadable,
  kContentDigestFailed,
  kContentNotCovered,
  kNotAuthenticodeData,
  kContentUndecodable,
  kNotImageData,
  kUnsupportedDigest,
  kImageDigestFailed,
  kImageDigestMismatch,
};

// What proving a signer found, with the Windows error of the call that
// failed, where one did.
struct SignerProof {
  SignerProofFault fault = SignerProofFault::kNone;
  DWORD error = 0;

  bool holds() const { return fault == SignerProofFault::kNone; }
};

// Whether signer `signer_index` of `message` (described by `signer_info`)
// vouches for the bytes of `image` with the key of `certificate`: its
// signature verifies with that key, the content type it signs is
// Authenticode's, the message digest it signs is the digest of the signed
// content, and that content is the Authenticode statement of the image's
// own digest (SHA-1, SHA-256, SHA-384 or SHA-512). Only cryptography: who
// the certificate is, and whether a chain vouches for it, is the caller's
// to judge. Built from system calls alone, for the host executable too.
SignerProof ProveSigner(HCRYPTMSG message,
                        DWORD signer_index,
                        const CMSG_SIGNER_INFO& signer_info,
                        PCCERT_CONTEXT certificate,
                        const PeImage& image);

// Whether signer `signer_index`'s signature over its authenticated
// attributes verifies with the key of `certificate` (kSignatureInvalid
// otherwise). Under Wine this does not compare the message digest that
// those attributes sign with the content: the caller must.
SignerProof VerifySignerSignature(HCRYPTMSG message,
                                  DWORD signer_index,
                                  PCCERT_CONTEXT certificate);

// The message digest among authenticated `attributes`, or false.
bool GetSignedMessageDigest(const CRYPT_ATTRIBUTES& attributes,
                            std::vector<uint8_t>* digest);

// Whether authenticated `attributes` sign the content type `type` (the DER
// of its object identifier): one content type attribute, of one value,
// that value `type`. A signature covers its attributes, not the
// eContentType beside them: without this check, what a signer signed as
// one content type could be passed off as another by relabelling it.
bool SignsContentType(const CRYPT_ATTRIBUTES& attributes,
                      std::span<const uint8_t> type);

// The fault as a report line says it; whether the line names the Windows
// error too.
const char* DescribeSignerProofFault(SignerProofFault fault,
                                     bool* names_error);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_PROOF_H_
