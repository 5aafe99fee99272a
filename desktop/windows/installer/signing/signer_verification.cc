#include "desktop/windows/installer/signing/signer_verification.h"

#include <string>

#include "base/log_message.h"
#include "base/strings/string_format.h"
#include "desktop/windows/installer/signing/offline_chain.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signer_proof.h"

namespace installer {

namespace {

std::string LastErrorText() {
  return base::SystemErrorCodeToString(::GetLastError());
}

bool Prove(HCRYPTMSG message,
           DWORD signer_index,
           const CMSG_SIGNER_INFO& signer_info,
           PCCERT_CONTEXT certificate,
           const PeImage& image,
           std::ostream& report) {
  const SignerProof proof =
      ProveSigner(message, signer_index, signer_info, certificate, image);
  if (proof.holds())
    return true;
  bool names_error = false;
  report << DescribeSignerProofFault(proof.fault, &names_error);
  if (names_error)
    report << ": " << base::SystemErrorCodeToString(proof.error);
  report << "\n";
  return false;
}

// As Windows judges a file's signer: a chain for code signing that ends in a
// root the machine trusts, with no error at all, held against the
// Authenticode policy; revocation is not checked. The machine's engine
// trusts only the machine's roots, which a process of the user cannot add
// to as it can to the user's own.
bool VerifyChain(PCCERT_CONTEXT certificate,
                 HCERTSTORE store,
                 std::ostream& report) {
  if (!OfflineChain::IsAtHand(certificate, store)) {
    report << "Certificate chain is incomplete\n";
    return false;
  }
  LPSTR code_signing = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &code_signing;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate, nullptr,
                                 store, &chain_para, OfflineChain::kChainFlags,
                                 nullptr, &built)) {
    report << "Cannot build certificate chain: " << LastErrorText() << "\n";
    return false;
  }
  ScopedCertChain chain(built);
  // Windows' policy refuses a chain with any of these errors; Wine's lets a
  // chain pass that reaches no root, or a root nobody trusts, and says so
  // only here.
  const DWORD status = chain->TrustStatus.dwErrorStatus;
  if (status & CERT_TRUST_IS_PARTIAL_CHAIN) {
    report << "Certificate chain is incomplete\n";
    return false;
  }
  if (status != CERT_TRUST_NO_ERROR) {
    report << base::FormatString(
        "Certificate chain is not trusted: chain status 0x%lx\n", status);
    return false;
  }
  CERT_CHAIN_POLICY_PARA policy_para = {};
  policy_para.cbSize = sizeof(policy_para);
  CERT_CHAIN_POLICY_STATUS policy_status = {};
  policy_status.cbSize = sizeof(policy_status);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE,
                                          chain.get(), &policy_para,
                                          &policy_status)) {
    report << "Cannot check certificate chain: " << LastErrorText() << "\n";
    return false;
  }
  if (policy_status.dwError != 0) {
    report << "Certificate chain is not trusted: "
           << base::SystemErrorCodeToString(policy_status.dwError) << "\n";
    return false;
  }
  return true;
}

}  // namespace

bool VerifySigner(HCRYPTMSG message,
                  DWORD signer_index,
                  const CMSG_SIGNER_INFO& signer_info,
                  PCCERT_CONTEXT certificate,
                  HCERTSTORE store,
                  const PeImage& image,
                  std::ostream& report) {
  return Prove(message, signer_index, signer_info, certificate, image,
               report) &&
         VerifyChain(certificate, store, report);
}

}  // namespace installer
