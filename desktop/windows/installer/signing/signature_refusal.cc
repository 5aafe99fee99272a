#include "desktop/windows/installer/signing/signature_refusal.h"

#include <wincrypt.h>

#include "desktop/windows/installer/signing/signer_proof.h"

namespace installer {

namespace {

struct RefusalText {
  SignatureRefusal refusal;
  const char* log_text;
  // The window's text when the file is refused at its first check, and
  // when an earlier check passed it.
  InstallerString first_check;
  InstallerString after_check;
};

constexpr RefusalText kRefusalTexts[] = {
    {SignatureRefusal::kNone, "its signature holds", kStringInstallerError,
     kStringInstallerError},
    // A package's program without a signature was put in place of the
    // signed one that its package carried.
    {SignatureRefusal::kNotSigned, "it is not signed",
     kStringPackageOtherPublisher, kStringPackageChanged},
    {SignatureRefusal::kMalformed,
     "its signature is malformed (the DER walk or the decoder refused it)",
     kStringPackageSignatureDamaged, kStringPackageSignatureDamaged},
    {SignatureRefusal::kChanged,
     "its signature does not hold for its bytes (signature or digest "
     "mismatch)",
     kStringPackageSignatureDamaged, kStringPackageChanged},
    {SignatureRefusal::kExpired,
     "its signature has expired (chain not time valid)",
     kStringPackageSignatureExpired, kStringPackageSignatureExpired},
    {SignatureRefusal::kUntrusted,
     "its signature is not trusted (no chain to a trusted root, or the chain "
     "policy refused it)",
     kStringPackageSignatureUntrusted, kStringPackageSignatureUntrusted},
    {SignatureRefusal::kOtherPublisher,
     "it is not signed by the publisher (no signer of the expected name whose "
     "chain ends in the publisher's roots)",
     kStringPackageOtherPublisher, kStringPackageOtherPublisher},
};

const RefusalText& TextOf(SignatureRefusal refusal) {
  for (const RefusalText& entry : kRefusalTexts) {
    if (entry.refusal == refusal)
      return entry;
  }
  return kRefusalTexts[0];
}

// The chain errors that say only that a certificate is out of its validity
// at the time judged: any other error is one of trust.
constexpr DWORD kTimeErrors = CERT_TRUST_IS_NOT_TIME_VALID |
                              CERT_TRUST_IS_NOT_TIME_NESTED |
                              CERT_TRUST_CTL_IS_NOT_TIME_VALID;

struct ErrorRefusal {
  LONG error;
  SignatureRefusal refusal;
};

// WinVerifyTrust's and the chain policy's errors that name another cause
// than trust.
constexpr ErrorRefusal kErrorRefusals[] = {
    {ERROR_SUCCESS, SignatureRefusal::kNone},
    {TRUST_E_NOSIGNATURE, SignatureRefusal::kNotSigned},
    {TRUST_E_SUBJECT_FORM_UNKNOWN, SignatureRefusal::kNotSigned},
    {TRUST_E_BAD_DIGEST, SignatureRefusal::kChanged},
    {NTE_BAD_SIGNATURE, SignatureRefusal::kChanged},
    {CRYPT_E_HASH_VALUE, SignatureRefusal::kChanged},
    {CERT_E_EXPIRED, SignatureRefusal::kExpired},
    {CERT_E_VALIDITYPERIODNESTING, SignatureRefusal::kExpired},
    {CRYPT_E_BAD_MSG, SignatureRefusal::kMalformed},
    {CRYPT_E_ASN1_CORRUPT, SignatureRefusal::kMalformed},
    {CRYPT_E_ASN1_BADTAG, SignatureRefusal::kMalformed},
    {CRYPT_E_ASN1_EOD, SignatureRefusal::kMalformed},
    {CRYPT_E_NO_SIGNER, SignatureRefusal::kMalformed},
};

SignatureRefusal RefusalOfError(LONG error) {
  for (const ErrorRefusal& entry : kErrorRefusals) {
    if (entry.error == error)
      return entry.refusal;
  }
  return SignatureRefusal::kUntrusted;
}

struct FaultRefusal {
  SignerProofFault fault;
  SignatureRefusal refusal;
};

// A signature or digest that does not hold for the bytes is a change; a
// part that cannot be read or is not what it must be is malformed.
constexpr FaultRefusal kFaultRefusals[] = {
    {SignerProofFault::kNone, SignatureRefusal::kNone},
    {SignerProofFault::kSignatureInvalid, SignatureRefusal::kChanged},
    {SignerProofFault::kContentNotCovered, SignatureRefusal::kChanged},
    {SignerProofFault::kImageDigestMismatch, SignatureRefusal::kChanged},
};

}  // namespace

const char* DescribeSignatureRefusal(SignatureRefusal refusal) {
  return TextOf(refusal).log_text;
}

InstallerString RefusalMessage(const RefusedSignature& refused) {
  const RefusalText& text = TextOf(refused.refusal);
  return refused.after_check ? text.after_check : text.first_check;
}

SignatureRefusal RefusalOfChainStatus(DWORD error_status) {
  if (error_status == CERT_TRUST_NO_ERROR)
    return SignatureRefusal::kNone;
  return (error_status & ~kTimeErrors) == 0 ? SignatureRefusal::kExpired
                                            : SignatureRefusal::kUntrusted;
}

SignatureRefusal RefusalOfPolicyError(DWORD error) {
  return RefusalOfError(static_cast<LONG>(error));
}

SignatureRefusal RefusalOfTrustVerdict(LONG verdict) {
  return RefusalOfError(verdict);
}

SignatureRefusal RefusalOfProofFault(SignerProofFault fault) {
  for (const FaultRefusal& entry : kFaultRefusals) {
    if (entry.fault == fault)
      return entry.refusal;
  }
  return SignatureRefusal::kMalformed;
}

}  // namespace installer
