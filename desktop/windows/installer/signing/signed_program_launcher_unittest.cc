#include "desktop/windows/installer/signing/signed_program_launcher.h"

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/signer_certificate.h"
#include "desktop/windows/installer/test/mapped_program.h"
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
// build is. With the signed images' build running (mapped as the loader
// maps it), the publisher's check takes a file of that build signed with
// the running build's very certificate without a chain, which the
// publisher's other roots would refuse; any other signer of it has its
// chain proven.
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
  const MappedProgram images_build(SignedTestImages::Image(L"unsigned"));
  ASSERT_NE(images_build.image(), nullptr) << ::GetLastError();
  const uint8_t* const running[] = {images_build.image()};
  constexpr bool kOfRunningBuild = true;
  const struct {
    const wchar_t* file;
    Identity identity;
    const PublisherRoots* roots;
    SignatureRefusal refusal;
    bool of_running_build = false;
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
      {L"good", kPublisher, &other, SignatureRefusal::kNone, kOfRunningBuild},
      {L"renewed", kPublisher, &publisher, SignatureRefusal::kNone,
       kOfRunningBuild},
      {L"renewed", kPublisher, &other, SignatureRefusal::kOtherPublisher,
       kOfRunningBuild},
      {L"rogue", kPublisher, &publisher, SignatureRefusal::kUntrusted,
       kOfRunningBuild},
      {L"unsigned", kPublisher, &publisher, SignatureRefusal::kNotSigned,
       kOfRunningBuild},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(std::wstring(test_case.file) +
                 (test_case.identity == kPublisher ? L" as publisher's"
                                                   : L" as the build's") +
                 (test_case.of_running_build ? L", its build running" : L""));
    SignedProgramLauncher launcher(
        {&own, test_case.roots,
         test_case.of_running_build ? std::span<const uint8_t* const>(running)
                                    : std::span<const uint8_t* const>()});
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
