#include "desktop/windows/installer/signing/signed_program_launcher.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>

#include "base/command_line.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/suspended_child.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time_delta.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/held_file_registry.h"
#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/signing/signer_certificate.h"

namespace installer {

namespace {

// What a started process that was not the held program ends with.
constexpr UINT kRefusedStartExitCode = 1;
// Its end is waited for, so that its image no longer holds its file; an end
// that takes longer does not hold up the refusal.
constexpr base::TimeDelta kRefusedStartEndWait = base::TimeDelta::FromSeconds(10);

SignedProgramLauncher::Requirement BuildRequirement() {
  const SignerCertificate* certificate = BuildPublisher::RequiredSigner();
  if (!certificate)
    return {};
  // The program and the library were loaded once, and stay.
  static const uint8_t* const running_builds[] = {
      RunningImage::OwnProgramImage(), RunningImage::OwnModuleImage()};
  return {certificate, &BuildPublisher::Roots(), running_builds};
}

// The publisher's check of a held file, made once while it is held: a
// chain costs most of a second under Wine, and the package's installer is
// asked for its version and stream in turn.
SignatureRefusal CheckPublisher(const HeldImageFile& file,
                                const base::FilePath& path,
                                const PublisherRoots& roots) {
  HeldFileRegistry& registry = HeldFileRegistry::Get();
  const std::optional<HeldFileIdentity>& identity = file.identity();
  if (identity) {
    if (const std::optional<SignatureRefusal> known = registry.FindVerdict(
            *identity, HeldFileJudge::kPublisherRoots, roots.encoded())) {
      return *known;
    }
  }
  const SignatureRefusal verdict =
      CheckImageSignature(file.bytes(), file.handle(), path, &roots, nullptr);
  if (identity) {
    registry.RememberVerdict(*identity, HeldFileJudge::kPublisherRoots,
                             roots.encoded(), verdict);
  }
  return verdict;
}

// Gives the guard job its limits: it ends what it holds once its last
// handle closes, or no longer. Either way it holds the started program
// alone, from its start: the program's own children start outside it, and
// the program may ask to start one outside every job that allows it. A
// browser started from an installer process puts its children in jobs of
// its own and starts programs out of its job, which a job that kept every
// later process would refuse it.
bool SetGuardLimits(HANDLE job, bool kill_on_close) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_BREAKAWAY_OK |
      (kill_on_close ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0);
  return ::SetInformationJobObject(job, JobObjectExtendedLimitInformation,
                                   &limits, sizeof(limits)) != FALSE;
}

// The job a program starts in, suspended until its image is proven: should
// this process end first (killed, or ending while its crash reporter starts
// on a thread of its own), the child goes with it rather than wait forever
// to be resumed. None before Windows 8, where a process already in a job
// (a deployment tool's) cannot join another: there, and wherever the child
// cannot join it, only this process's own end ends the child held
// suspended (SuspendedChild), not a kill from outside.
base::win::ScopedHandle MakeStartGuardJob() {
  if (base::win::GetWindowsVersion() < base::win::kVersionWin8)
    return base::win::ScopedHandle();
  base::win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.IsValid() || !SetGuardLimits(job.Get(), true))
    return base::win::ScopedHandle();
  return job;
}

// The child runs, or has ended: it outlives this process from now on. A job
// that cannot let it go is kept open to the end of this process, which the
// child then does not outlive.
void LetChildOutliveThisProcess(base::win::ScopedHandle job) {
  if (job.IsValid() && !SetGuardLimits(job.Get(), false)) {
    PLOG(WARNING) << "A started program ends with this process";
    job.Take();
  }
}

// This process's program, kept held (KeepRunningProgramHeld).
struct KeptProgram {
  std::mutex lock;
  HeldImageFile file;
};

KeptProgram& GetKeptProgram() {
  // Made first, the registry goes last: the kept file leaves it as it goes.
  HeldFileRegistry::Get();
  static KeptProgram kept;
  return kept;
}

}  // namespace

SignedProgramLauncher::SignedProgramLauncher()
    : SignedProgramLauncher(BuildRequirement()) {}

SignedProgramLauncher::SignedProgramLauncher(const Requirement& required)
    : required_(required) {}

SignedProgramLauncher::~SignedProgramLauncher() = default;

bool SignedProgramLauncher::Hold(const base::FilePath& program,
                                 Files files,
                                 Identity identity) {
  Release();
  log_refusals_ = true;
  program_ = program;
  refusal_ = SignatureRefusal::kNone;
  pin_error_ = 0;
  // The library is loaded by the program's own host, which pins its path
  // itself.
  const bool held =
      HoldOne(program, identity, true) &&
      (files == Files::kProgram ||
       HoldOne(program.DirName().Append(kInstallerLibraryName), identity,
               false));
  if (!held)
    Release();
  return held;
}

// static
void SignedProgramLauncher::ReadyPublisherCheck() {
  const Requirement required = BuildRequirement();
  base::FilePath library;
  if (!required.roots || !base::GetPathForKey(base::kModuleFile, &library))
    return;
  HeldImageFile file;
  if (file.Open(library.value().c_str()) != 0)
    return;
  const SignatureRefusal verdict =
      CheckPublisher(file, library, *required.roots);
  LOG(INFO) << "Publisher's check readied on " << library.AsUTF8() << ": "
            << (verdict == SignatureRefusal::kNone
                    ? "it is the publisher's"
                    : DescribeSignatureRefusal(verdict));
}

// static
void SignedProgramLauncher::KeepRunningProgramHeld() {
  base::FilePath program;
  if (!base::GetWindowsPath(base::kExeFile, &program))
    return;
  KeptProgram& kept = GetKeptProgram();
  const std::lock_guard<std::mutex> hold(kept.lock);
  // Nothing of it is read here: the first hold proves it. Kept as it is
  // spelled, it is the file HoldRunningProgram opens, or another whose
  // verdicts it does not share.
  if (kept.file.Open(HeldFilePath::AsSpelled(program.value()).c_str()) != 0)
    kept.file = HeldImageFile();
}

// static
void SignedProgramLauncher::LetRunningProgramGo() {
  KeptProgram& kept = GetKeptProgram();
  const std::lock_guard<std::mutex> hold(kept.lock);
  kept.file = HeldImageFile();
}

bool SignedProgramLauncher::HoldRunningProgram() {
  // One proof at a time: the crash reporter's start proves the program on a
  // thread of its own, and a launch of the program meanwhile finds its
  // verdict instead of reading the file again.
  static std::mutex proving;
  const std::lock_guard<std::mutex> one_at_a_time(proving);
  Release();
  log_refusals_ = false;
  refusal_ = SignatureRefusal::kNone;
  pin_error_ = 0;
  HeldImageFile own;
  // The name the system gave the program, never the command line's, as it
  // is spelled: "x.\installer.exe" would open "x\installer.exe".
  const bool opened =
      base::GetWindowsPath(base::kExeFile, &program_) &&
      own.Open(HeldFilePath::AsSpelled(program_.value()).c_str()) == 0;
  if (opened)
    pin_error_ = pinned_program_.Pin(own.handle());
  if (!opened || pin_error_ != 0 || !RunningImage::IsOwnProgram(own.bytes())) {
    Release();
    refusal_ = SignatureRefusal::kChanged;
    return false;
  }
  refusal_ = RefusalOf(own, program_, Identity::kRunningBuild);
  if (refusal_ != SignatureRefusal::kNone) {
    Release();
    return false;
  }
  held_.push_back(std::move(own));
  return true;
}

bool SignedProgramLauncher::HoldOne(const base::FilePath& path,
                                    Identity identity,
                                    bool pin) {
  HeldImageFile file;
  if (const DWORD error = file.Open(path.value().c_str())) {
    LOG(ERROR) << "Cannot hold " << path.AsUTF8() << ": "
               << base::SystemErrorCodeToString(error);
    refusal_ = SignatureRefusal::kChanged;
    return false;
  }
  // Pinned before the check, so that no folder on the way is renamed
  // between the check and the start.
  if (pin) {
    pin_error_ = pinned_program_.Pin(file.handle());
    if (const DWORD error = pin_error_) {
      LOG(ERROR) << "Refusing " << path.AsUTF8()
                 << ": its path cannot be held"
                 << (HeldFilePath::IsFolderRefusal(error)
                         ? " (it does not lead to the file alone)"
                         : "")
                 << ": " << base::SystemErrorCodeToString(error);
      refusal_ = SignatureRefusal::kChanged;
      return false;
    }
  }
  refusal_ = RefusalOf(file, path, identity);
  if (refusal_ != SignatureRefusal::kNone) {
    LOG(ERROR) << "Refusing " << path.AsUTF8() << ": "
               << (identity == Identity::kRunningBuild
                       ? std::string("it is ") +
                             SignerCertificate::Describe(refusal_)
                       : std::string(DescribeSignatureRefusal(refusal_)));
    return false;
  }
  held_.push_back(std::move(file));
  return true;
}

SignatureRefusal SignedProgramLauncher::RefusalOf(const HeldImageFile& file,
                                                  const base::FilePath& path,
                                                  Identity identity) const {
  if (identity == Identity::kRunningBuild) {
    return required_.certificate ? required_.certificate->Check(file)
                                 : SignatureRefusal::kNone;
  }
  if (!required_.roots)
    return SignatureRefusal::kNone;
  // The running build's own files are held to its certificate alone
  // (kRunningBuild): a chain would only say again who signed them, at a
  // cost of a third of a second under Wine in a process that built none
  // yet (the backend that hands over to the full installer's package).
  if (IsOfRunningBuild(file, path))
    return SignatureRefusal::kNone;
  return CheckPublisher(file, path, *required_.roots);
}

bool SignedProgramLauncher::IsOfRunningBuild(const HeldImageFile& file,
                                             const base::FilePath& path) const {
  if (!required_.certificate ||
      std::ranges::none_of(required_.running_builds,
                           [&file](const uint8_t* running) {
                             return running &&
                                    RunningImage::IsBuildOf(file.bytes(),
                                                            running);
                           })) {
    return false;
  }
  // Another signer, even the publisher's renewed certificate, has its
  // chain proven, and so has a file whose signature fails here: the
  // publisher's check names why.
  if (required_.certificate->Check(file) != SignatureRefusal::kNone)
    return false;
  LOG(INFO) << "Holding " << path.AsUTF8()
            << " as of the running build, signed by its certificate";
  return true;
}

DWORD SignedProgramLauncher::VerifyPinnedPath() const {
  return held_.empty() ? ERROR_FILE_INVALID
                       : pinned_program_.Verify(held_.front().handle());
}

bool SignedProgramLauncher::ProveRunningProgram(HANDLE process,
                                                std::string* unproven) const {
  if (held_.empty()) {
    *unproven = "nothing is held";
    return false;
  }
  const MappedImageCheck::Result image = MappedImageCheck::CheckProcess(
      process, held_.front().bytes(),
      MappedImageCheck::Parts::kUnwrittenSections);
  if (image == MappedImageCheck::Result::kSame)
    return true;
  *unproven = MappedImageCheck::Describe(image);
  if (image == MappedImageCheck::Result::kDifferent)
    return false;
  const DWORD error =
      HeldFilePath::VerifyProcessImage(process, held_.front().handle());
  if (error == 0)
    return true;
  *unproven += error == ERROR_FILE_INVALID
                   ? ", and its image's file is another than the program held"
                   : ", and its image's file cannot be told: " +
                         base::SystemErrorCodeToString(error);
  return false;
}

base::Process SignedProgramLauncher::Launch(
    const base::CommandLine& command_line,
    const base::ProcessLaunchOptions& options) {
  if (held_.empty() || command_line.GetProgram() != program_) {
    LOG(ERROR) << "Refusing to start a program that is not held: "
               << command_line.GetProgram().AsUTF8();
    return base::Process();
  }
  if (const DWORD error = VerifyPinnedPath()) {
    if (log_refusals_) {
      LOG(ERROR) << "Refusing to run " << program_.AsUTF8()
                 << ": it was changed after it was checked ("
                 << base::WideToUtf8(pinned_program_.path())
                 << " no longer opens it: "
                 << base::SystemErrorCodeToString(error) << ")";
    }
    refusal_ = SignatureRefusal::kChanged;
    Release();
    ::SetLastError(error);
    return base::Process();
  }
  // By the pinned path alone, as the application and as the child's own
  // name, which the child makes its other paths from.
  base::CommandLine pinned(command_line);
  pinned.SetProgram(base::FilePath(pinned_program_.path()));
  base::ProcessLaunchOptions suspended = options;
  suspended.wait = false;
  suspended.application_name = pinned_program_.path();
  base::SuspendedChild held;
  suspended.suspended_child = &held;
  base::win::ScopedHandle guard;
  if (!suspended.job) {
    guard = MakeStartGuardJob();
    suspended.job = guard.Get();
  }
  base::Process process = base::LaunchProcessForCommandLine(pinned, suspended);
  if (!process.IsValid() && guard.IsValid()) {
    // A job of the machine's that takes no other in it: started as before.
    guard.Close();
    suspended.job = nullptr;
    process = base::LaunchProcessForCommandLine(pinned, suspended);
  }
  DWORD launch_error = ::GetLastError();
  if (process.IsValid() && !ResumeIfProven(process, &held)) {
    process = base::Process();
    launch_error = ERROR_FILE_INVALID;
  }
  LetChildOutliveThisProcess(std::move(guard));
  // Started (or not): its image is mapped, and its own host checks the
  // library again before it maps it.
  Release();
  ::SetLastError(launch_error);
  if (process.IsValid() && options.wait && !process.WaitForExit(nullptr))
    PLOG(WARNING) << "Could not wait for " << program_.AsUTF8();
  return process;
}

bool SignedProgramLauncher::ResumeIfProven(const base::Process& process,
                                           base::SuspendedChild* child) {
  const MappedImageCheck::Result proof = MappedImageCheck::CheckProcess(
      process.Handle(), held_.front().bytes(),
      MappedImageCheck::Parts::kWholeImage);
  if (proof == MappedImageCheck::Result::kSame && child->Resume())
    return true;
  // None of its code has run: ended before its image goes with its
  // folder.
  child->End(kRefusedStartExitCode);
  process.WaitForExitWithTimeout(kRefusedStartEndWait, nullptr);
  refusal_ = SignatureRefusal::kChanged;
  if (log_refusals_) {
    LOG(ERROR) << "Refusing to run " << program_.AsUTF8()
               << ": it was changed after it was checked ("
               << (proof == MappedImageCheck::Result::kSame
                       ? "it could not be resumed"
                       : MappedImageCheck::Describe(proof))
               << " from " << base::WideToUtf8(pinned_program_.path()) << ")";
  }
  return false;
}

void SignedProgramLauncher::Release() {
  held_.clear();
  pinned_program_.Release();
}

}  // namespace installer
