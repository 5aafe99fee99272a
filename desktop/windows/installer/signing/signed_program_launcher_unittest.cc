#include "desktop/windows/installer/signing/signed_program_launcher.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/signer_certificate.h"
#include "desktop/windows/installer/test/mapped_program.h"
#include "desktop/windows/installer/test/signed_test_images.h"
#include "desktop/windows/installer/test/test_programs.h"
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


using test_programs::BesideTests;
using test_programs::ProcessChildTool;

// A program held through a link (a Unix link, which Wine shows as a
// junction) to its folder starts by its pinned path alone: pointing the
// link elsewhere afterwards starts nothing else, and a Linux process, which
// renames a held folder all the same, gets the program it put in its place
// started suspended, proven another image and ended before it ran. The
// stand-in writes its command line beside itself once it runs.
TEST(SignedProgramLauncherTest, WhatStartsIsTheProgramHeld) {
  enum class Meddling { kNone, kLinkPointedElsewhere, kFolderSwappedByLinux };
  const struct {
    const char* name;
    Meddling meddling;
    bool starts;
  } kCases[] = {
      {"untouched", Meddling::kNone, true},
      {"link pointed elsewhere", Meddling::kLinkPointedElsewhere, true},
      {"folder swapped by a Linux process", Meddling::kFolderSwappedByLinux,
       false},
  };
  const base::FilePath genuine =
      ProcessChildTool();
  const base::FilePath stand_in =
      BesideTests(L"installer\\installer_child_tool.exe");
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    base::TempTree tree;
    tree.MakeDir(L"real");
    tree.MakeDir(L"other");
    ASSERT_TRUE(base::CopyFileChecked(genuine, tree.Path(L"real\\program.exe")));
    ASSERT_TRUE(
        base::CopyFileChecked(stand_in, tree.Path(L"other\\program.exe")));
    auto link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"link"),
                                                       tree.Path(L"real"));
    if (!link->made())
      GTEST_SKIP() << "no Unix links outside Wine";
    const base::FilePath program = tree.Path(L"link\\program.exe");
    SignedProgramLauncher launcher(SignedProgramLauncher::Requirement{});
    ASSERT_TRUE(launcher.Hold(program, SignedProgramLauncher::Files::kProgram,
                              kPublisher));
    std::unique_ptr<base::ScopedUnixLink> elsewhere;
    if (test_case.meddling == Meddling::kLinkPointedElsewhere) {
      link.reset();
      elsewhere = std::make_unique<base::ScopedUnixLink>(tree.Path(L"link"),
                                                         tree.Path(L"other"));
      ASSERT_TRUE(elsewhere->made());
    } else if (test_case.meddling == Meddling::kFolderSwappedByLinux) {
      ASSERT_TRUE(
          base::RenameWithUnix(tree.Path(L"real"), tree.Path(L"real_aside")));
      ASSERT_TRUE(base::RenameWithUnix(tree.Path(L"other"), tree.Path(L"real")));
    }
    base::CommandLine command_line(program);
    command_line.AppendSwitchASCII("exit", "5");
    base::ProcessLaunchOptions options;
    options.start_hidden = true;

    const base::Process process = launcher.Launch(command_line, options);

    EXPECT_EQ(test_case.starts, process.IsValid());
    EXPECT_EQ(test_case.starts ? SignatureRefusal::kNone
                               : SignatureRefusal::kChanged,
              launcher.refusal());
    int exit_code = -1;
    if (process.IsValid()) {
      EXPECT_TRUE(process.WaitForExit(&exit_code));
      EXPECT_EQ(5, exit_code);
    }
    for (const wchar_t* stand_in_folder : {L"real", L"other"}) {
      EXPECT_FALSE(base::PathExists(
          tree.Path(stand_in_folder).Append(L"command_line.txt")));
    }
  }
}

// What the launcher starts is free once it runs, both as it starts and once
// its start guard has let it go: its own children start in no job, it may
// put them in jobs of its own, and it may start one outside its job (a
// browser's sandbox and its relaunch do all three). The started program,
// the base library's child tool, looks at once or once told that the
// launch returned, and says what it could do in its exit code.
TEST(SignedProgramLauncherTest, StartedProgramIsFreeToMakeItsOwnJobs) {
  BOOL test_in_job = TRUE;
  ASSERT_TRUE(::IsProcessInJob(::GetCurrentProcess(), nullptr, &test_in_job));
  if (test_in_job)
    GTEST_SKIP() << "run in a job: no child of this test can be in none";
  // Child in no job, in a job of its starter's, broken away.
  constexpr int kFree = 1 | 2 | 4;
  const struct {
    const char* name;
    bool after_launch;
  } kCases[] = {
      {"as it starts", false},
      {"once let go", true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    base::TempTree tree;
    const base::FilePath program = tree.Path(L"program.exe");
    ASSERT_TRUE(base::CopyFileChecked(ProcessChildTool(), program));
    SignedProgramLauncher launcher(SignedProgramLauncher::Requirement{});
    ASSERT_TRUE(launcher.Hold(program, SignedProgramLauncher::Files::kProgram,
                              kPublisher));
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const base::win::ScopedHandle launched(
        ::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    const std::vector<HANDLE> inherited = {launched.Get()};
    base::CommandLine command_line(program);
    command_line.AppendSwitch("start-children");
    if (test_case.after_launch) {
      command_line.AppendSwitchASCII(
          "after",
          std::to_string(reinterpret_cast<uintptr_t>(launched.Get())));
    }
    base::ProcessLaunchOptions options;
    options.start_hidden = true;
    options.handles_to_inherit = &inherited;
    base::Process process;
    {
      const base::AutoLock lock(base::GetProcessLaunchLock());
      process = launcher.Launch(command_line, options);
    }
    ASSERT_TRUE(process.IsValid()) << ::GetLastError();
    ::SetEvent(launched.Get());

    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExit(&exit_code));
    EXPECT_EQ(kFree, exit_code);
  }
}

}  // namespace
}  // namespace installer
