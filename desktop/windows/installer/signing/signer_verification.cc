#include "desktop/windows/installer/signing/signer_verification.h"

#include <string>

#include "base/log_message.h"
#include "base/strings/string_format.h"
#include "desktop/windows/installer/signing/extended_key_usage.h"
#include "desktop/windows/installer/signing/offline_chain.h"
#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signature_timestamp.h"
#include "desktop/windows/installer/signing/signer_proof.h"

namespace installer {

namespace {

std::string LastErrorText() {
  return base::SystemErrorCodeToString(::GetLastError());
}

SignatureRefusal Prove(HCRYPTMSG message,
                       DWORD signer_index,
                       const CMSG_SIGNER_INFO& signer_info,
                       PCCERT_CONTEXT certificate,
                       const PeImage& image,
                       std::ostream& report) {
  const SignerProof proof =
      ProveSigner(message, signer_index, signer_info, certificate, image);
  if (proof.holds())
    return SignatureRefusal::kNone;
  bool names_error = false;
  report << DescribeSignerProofFault(proof.fault, &names_error);
  if (names_error)
    report << ": " << base::SystemErrorCodeToString(proof.error);
  report << "\n";
  return RefusalOfProofFault(proof.fault);
}

// A chain the machine trusts is the publisher's only when it ends in one of
// the publisher's roots: another authority may issue a certificate of the
// same name, and the machine may trust it.
SignatureRefusal CheckPublisherRoot(PCCERT_CHAIN_CONTEXT chain,
                                    const PublisherRoots* roots,
                                    std::ostream& report) {
  if (!roots || roots->EndsChain(chain))
    return SignatureRefusal::kNone;
  report << "Certificate chain does not end in a root of the publisher\n";
  return SignatureRefusal::kOtherPublisher;
}

// As Windows judges a file's signer: a chain for code signing that ends in a
// root the machine trusts, with no error at all, held against the
// Authenticode policy; revocation is not checked. The machine's engine
// trusts only the machine's roots, which a process of the user cannot add
// to as it can to the user's own. Judged at `time`, or now when null.
SignatureRefusal VerifyChain(PCCERT_CONTEXT certificate,
                             HCERTSTORE store,
                             const FILETIME* time,
                             const PublisherRoots* roots,
                             std::ostream& report) {
  if (!OfflineChain::IsAtHand(certificate, store)) {
    report << "Certificate chain is incomplete\n";
    return SignatureRefusal::kUntrusted;
  }
  LPSTR code_signing = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &code_signing;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  FILETIME chain_time = time ? *time : FILETIME();
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate,
                                 time ? &chain_time : nullptr, store,
                                 &chain_para, OfflineChain::kChainFlags,
                                 nullptr, &built)) {
    report << "Cannot build certificate chain: " << LastErrorText() << "\n";
    return SignatureRefusal::kUntrusted;
  }
  ScopedCertChain chain(built);
  // Windows' policy refuses a chain with any of these errors; Wine's lets a
  // chain pass that reaches no root, or a root nobody trusts, and says so
  // only here. Nor does its engine find a use that an authority above the
  // signer excludes: that is found here.
  const DWORD status = chain->TrustStatus.dwErrorStatus |
                       ExtendedKeyUsage::ChainStatus(
                           *chain, ExtendedKeyUsage::Purpose::kCodeSigning);
  if (status & CERT_TRUST_IS_PARTIAL_CHAIN) {
    report << "Certificate chain is incomplete\n";
    return SignatureRefusal::kUntrusted;
  }
  if (status != CERT_TRUST_NO_ERROR) {
    report << base::FormatString(
        "Certificate chain is not trusted: chain status 0x%lx\n", status);
    return RefusalOfChainStatus(status);
  }
  CERT_CHAIN_POLICY_PARA policy_para = {};
  policy_para.cbSize = sizeof(policy_para);
  CERT_CHAIN_POLICY_STATUS policy_status = {};
  policy_status.cbSize = sizeof(policy_status);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE,
                                          chain.get(), &policy_para,
                                          &policy_status)) {
    report << "Cannot check certificate chain: " << LastErrorText() << "\n";
    return SignatureRefusal::kUntrusted;
  }
  if (policy_status.dwError != 0) {
    report << "Certificate chain is not trusted: "
           << base::SystemErrorCodeToString(policy_status.dwError) << "\n";
    return RefusalOfPolicyError(policy_status.dwError);
  }
  return CheckPublisherRoot(chain.get(), roots, report);
}

}  // namespace

SignatureRefusal VerifySigner(HCRYPTMSG message,
                              DWORD signer_index,
                              const CMSG_SIGNER_INFO& signer_info,
                              PCCERT_CONTEXT certificate,
                              HCERTSTORE store,
                              const PeImage& image,
                              const PublisherRoots* roots,
                              std::ostream& report) {
  const SignatureRefusal proof =
      Prove(message, signer_index, signer_info, certificate, image, report);
  if (proof != SignatureRefusal::kNone)
    return proof;
  // A signature made while its certificate was valid stays valid after
  // the certificate ends, when a proven time-stamp says when it was made.
  const SignatureTimestamp timestamp =
      SignatureTimestamp::Prove(signer_info, certificate, store);
  timestamp.Describe(report);
  return VerifyChain(certificate, store, timestamp.chain_time(), roots,
                     report);
}

}  // namespace installer
