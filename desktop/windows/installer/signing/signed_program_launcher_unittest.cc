#include "desktop/windows/installer/signing/signed_program_launcher.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/signer_certificate.h"
#include "desktop/windows/installer/test/signed_test_images.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Identity = SignedProgramLauncher::Identity;

constexpr Identity kRunningBuild = Identity::kRunningBuild;
constexpr Identity kPublisher = Identity::kPublisher;

// A process of a build signed by "good", its publisher's roots `roots`:
// the identity chosen for a hold decides which of the publisher's
// signatures pass. The test program itself is unsigned, as a development
// build is.
TEST(SignedProgramLauncherTest, IdentityChosenPerHoldDecidesWhoMaySign) {
  if (!SignedTestImages::Available())
    GTEST_SKIP() << "no signed test images in a release's build";
  const SignerCertificate own =
      SignerCertificate::FromEncoded(SignedTestImages::Certificate(L"good"));
  const std::vector<uint8_t> ca = SignedTestImages::Certificate(L"ca");
  const std::vector<uint8_t> rogue_ca =
      SignedTestImages::Certificate(L"rogue_ca");
  const std::span<const uint8_t> publisher_root[] = {ca};
  const std::span<const uint8_t> other_root[] = {rogue_ca};
  const PublisherRoots publisher = PublisherRoots::FromEncoded(publisher_root);
  const PublisherRoots other = PublisherRoots::FromEncoded(other_root);
  const struct {
    const wchar_t* file;
    Identity identity;
    const PublisherRoots* roots;
    SignatureRefusal refusal;
  } kCases[] = {
      {L"good", kRunningBuild, &publisher, SignatureRefusal::kNone},
      {L"good", kPublisher, &publisher, SignatureRefusal::kNone},
      // The publisher's certificate renewed: the same name, the same CA.
      {L"renewed", kRunningBuild, &publisher,
       SignatureRefusal::kOtherPublisher},
      {L"renewed", kPublisher, &publisher, SignatureRefusal::kNone},
      // The same name from a CA the machine does not trust.
      {L"rogue", kRunningBuild, &publisher, SignatureRefusal::kOtherPublisher},
      {L"rogue", kPublisher, &publisher, SignatureRefusal::kUntrusted},
      // A trusted chain that ends in another root than the publisher's.
      {L"good", kPublisher, &other, SignatureRefusal::kOtherPublisher},
      {L"good", kRunningBuild, &other, SignatureRefusal::kNone},
      {L"unsigned", kRunningBuild, &publisher, SignatureRefusal::kNotSigned},
      {L"unsigned", kPublisher, &publisher, SignatureRefusal::kNotSigned},
      {L"missing", kPublisher, &publisher, SignatureRefusal::kChanged},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(std::wstring(test_case.file) +
                 (test_case.identity == kPublisher ? L" as publisher's"
                                                   : L" as the build's"));
    SignedProgramLauncher launcher({&own, test_case.roots});
    EXPECT_EQ(launcher.Hold(SignedTestImages::Image(test_case.file),
                            SignedProgramLauncher::Files::kProgram,
                            test_case.identity),
              test_case.refusal == SignatureRefusal::kNone);
    EXPECT_EQ(launcher.refusal(), test_case.refusal);

    // A development build holds its files to nobody.
    SignedProgramLauncher development(SignedProgramLauncher::Requirement{});
    EXPECT_EQ(development.Hold(SignedTestImages::Image(test_case.file),
                               SignedProgramLauncher::Files::kProgram,
                               test_case.identity),
              test_case.refusal != SignatureRefusal::kChanged);
  }
}

}  // namespace
}  // namespace installer
