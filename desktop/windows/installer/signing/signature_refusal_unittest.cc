#include "desktop/windows/installer/signing/signature_refusal.h"

#include <wincrypt.h>

#include <set>
#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

using Refusal = SignatureRefusal;

// Only bytes changed after an earlier check are told as changed; every
// other cause is told as itself, whether an earlier check passed or not.
TEST(SignatureRefusalTest, WindowTextNamesTheCause) {
  const struct {
    Refusal refusal;
    InstallerString first_check;
    InstallerString after_check;
  } kCases[] = {
      {Refusal::kNotSigned, kStringPackageOtherPublisher,
       kStringPackageChanged},
      {Refusal::kChanged, kStringPackageSignatureDamaged,
       kStringPackageChanged},
      {Refusal::kMalformed, kStringPackageSignatureDamaged,
       kStringPackageSignatureDamaged},
      {Refusal::kExpired, kStringPackageSignatureExpired,
       kStringPackageSignatureExpired},
      {Refusal::kUntrusted, kStringPackageSignatureUntrusted,
       kStringPackageSignatureUntrusted},
      {Refusal::kOtherPublisher, kStringPackageOtherPublisher,
       kStringPackageOtherPublisher},
  };
  std::set<std::string> log_texts;
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(DescribeSignatureRefusal(test_case.refusal));
    EXPECT_EQ(RefusalMessage({test_case.refusal, false}),
              test_case.first_check);
    EXPECT_EQ(RefusalMessage({test_case.refusal, true}),
              test_case.after_check);
    log_texts.insert(DescribeSignatureRefusal(test_case.refusal));
  }
  // Each log line names its own check.
  EXPECT_EQ(log_texts.size(), std::size(kCases));
}

TEST(SignatureRefusalTest, PlatformFindingsNameTheCause) {
  const struct {
    DWORD chain_status;
    Refusal refusal;
  } kChainCases[] = {
      {CERT_TRUST_NO_ERROR, Refusal::kNone},
      {CERT_TRUST_IS_NOT_TIME_VALID, Refusal::kExpired},
      {CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED,
       Refusal::kExpired},
      // Out of time and under a root nobody trusts: trust is what fails.
      {CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT,
       Refusal::kUntrusted},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, Refusal::kUntrusted},
      {CERT_TRUST_IS_PARTIAL_CHAIN, Refusal::kUntrusted},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, Refusal::kUntrusted},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, Refusal::kUntrusted},
  };
  for (const auto& test_case : kChainCases) {
    SCOPED_TRACE(test_case.chain_status);
    EXPECT_EQ(RefusalOfChainStatus(test_case.chain_status), test_case.refusal);
  }
  const struct {
    LONG verdict;
    Refusal refusal;
  } kTrustCases[] = {
      {ERROR_SUCCESS, Refusal::kNone},
      {TRUST_E_NOSIGNATURE, Refusal::kNotSigned},
      {TRUST_E_BAD_DIGEST, Refusal::kChanged},
      {CERT_E_EXPIRED, Refusal::kExpired},
      {CERT_E_UNTRUSTEDROOT, Refusal::kUntrusted},
      {CERT_E_CHAINING, Refusal::kUntrusted},
      {TRUST_E_EXPLICIT_DISTRUST, Refusal::kUntrusted},
      {CRYPT_E_ASN1_CORRUPT, Refusal::kMalformed},
  };
  for (const auto& test_case : kTrustCases) {
    SCOPED_TRACE(test_case.verdict);
    EXPECT_EQ(RefusalOfTrustVerdict(test_case.verdict), test_case.refusal);
    EXPECT_EQ(RefusalOfPolicyError(static_cast<DWORD>(test_case.verdict)),
              test_case.refusal);
  }
}

}  // namespace
}  // namespace installer
