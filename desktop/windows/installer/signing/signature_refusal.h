#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_REFUSAL_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_REFUSAL_H_

#include <windows.h>

#include <cstdint>

#include "desktop/windows/installer/product/installer_string_ids.h"

namespace installer {

enum class SignerProofFault : uint8_t;

// Why a signature check refused a file: the check that refused it, so that
// the log and the user are told what was wrong rather than that something
// was. Only the enumeration is read by the host executable (the held-file
// verdicts keep it).
enum class SignatureRefusal : uint8_t {
  kNone,
  // The file carries no signature.
  kNotSigned,
  // The DER walk or the platform's decoder refused the signature, or its
  // parts cannot be read.
  kMalformed,
  // A signature or a digest that does not hold for the file's bytes.
  kChanged,
  // The signer's chain is not valid at the time it is judged at.
  kExpired,
  // No chain to a root the machine trusts, or the policy refused it.
  kUntrusted,
  // No signer of the expected name, or none whose chain ends in the
  // publisher's roots.
  kOtherPublisher,
};

// A refusal as the user is told of it: `after_check` when the file is one
// that an earlier check passed (a package's program, checked with the
// package): a signature that fails then has had its bytes changed since.
struct RefusedSignature {
  SignatureRefusal refusal = SignatureRefusal::kNone;
  bool after_check = false;
};

// The refusal as a log line gives it, a clause naming the check:
// "its signature has expired (chain not time valid)".
const char* DescribeSignatureRefusal(SignatureRefusal refusal);

// The text the window shows for a refused package file. Only bytes changed
// after an earlier check are told as changed; a file refused at its first
// check was damaged, not changed.
InstallerString RefusalMessage(const RefusedSignature& refused);

// What the platform's findings say of a signature: a chain's error status
// (CERT_TRUST_*), the chain policy's error, WinVerifyTrust's verdict, and
// the signer proof's fault.
SignatureRefusal RefusalOfChainStatus(DWORD error_status);
SignatureRefusal RefusalOfPolicyError(DWORD error);
SignatureRefusal RefusalOfTrustVerdict(LONG verdict);
SignatureRefusal RefusalOfProofFault(SignerProofFault fault);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNATURE_REFUSAL_H_
