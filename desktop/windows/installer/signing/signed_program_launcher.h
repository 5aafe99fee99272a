#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_PROGRAM_LAUNCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_PROGRAM_LAUNCHER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "desktop/windows/installer/signing/held_file_path.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/mapped_image_check.h"
#include "desktop/windows/installer/signing/signature_refusal.h"

namespace base {
class CommandLine;
struct ProcessLaunchOptions;
class SuspendedChild;
}  // namespace base

namespace installer {

class PublisherRoots;
class SignerCertificate;

// Starts a program from a folder that others may write (the package's, the
// temporary folder): it checks the program, and the installer library it
// will load, on handles that keep writers out, and starts it before letting
// them go, so that what starts is what was checked. Holding a file does not
// hold its path, so the program's path is pinned while it is held
// (HeldFilePath: no folder on it can be renamed or become a link) and the
// program is started by that path alone, suspended, and let run only once
// its mapped image is shown to be the held bytes (MappedImageCheck): what a
// pin cannot stop (under Wine, a Linux process renames a held folder all
// the same) starts nothing either. Each file must carry a
// valid signature of the publisher that the build compiled in
// (BuildPublisher): of its very certificate for a file of the running
// build, of a signer of the expected name under the publisher's roots for a
// file of another release. When this process's program is unsigned (a
// development build), any file passes, as unsigned packages do.
class SignedProgramLauncher {
 public:
  enum class Files { kProgram, kProgramAndLibrary };

  // Whose signature a held file must carry.
  enum class Identity {
    // The running build's own certificate, byte for byte
    // (SignerCertificate): its program and copies of it, which a
    // certificate's renewal does not reach.
    kRunningBuild,
    // The publisher: a signer of the branding's expected name, proven, its
    // chain trusted by the machine and ending in one of the publisher's
    // roots (PublisherRoots). A release after the publisher renewed its
    // certificate is signed with a new key. A file that turns out to be of
    // a build running in this process (RunningImage::IsBuildOf), signed
    // with the running build's certificate, is held as kRunningBuild holds
    // it, without a chain: the package of the full installer that runs.
    kPublisher,
  };

  // What the files are held to; none (any file passes) when null.
  struct Requirement {
    const SignerCertificate* certificate = nullptr;
    const PublisherRoots* roots = nullptr;
    // The mapped images of the builds that run here (this process's
    // program and library), whose files `certificate` vouches for.
    std::span<const uint8_t* const> running_builds;
  };

  // Held to the build's publisher when this process's program is signed.
  SignedProgramLauncher();
  explicit SignedProgramLauncher(const Requirement& required);
  SignedProgramLauncher(const SignedProgramLauncher&) = delete;
  SignedProgramLauncher& operator=(const SignedProgramLauncher&) = delete;
  ~SignedProgramLauncher();

  // Holds and checks `program` and, with kProgramAndLibrary, the library
  // beside it, against `identity`, the program's path pinned before it is
  // checked. False (each refusal logged, naming the check that refused)
  // when one is missing, its path cannot be pinned or a check fails: the
  // files are then released and nothing may be started.
  [[nodiscard]] bool Hold(const base::FilePath& program,
                          Files files,
                          Identity identity);

  // Holds this process's own program, by the name the system gave it, when
  // that file is still the running build (RunningImage) signed with the
  // running build's certificate: a process that starts itself again in
  // another role starts what runs now, not what its user renamed it for and
  // put in its place. Logs nothing, as a process may start so before its
  // log is open; false when refused.
  [[nodiscard]] bool HoldRunningProgram();

  // Keeps this process's own program held from now until
  // LetRunningProgramGo, so that the proof HoldRunningProgram makes stands
  // for every later hold meanwhile (HeldFileRegistry): a front end that
  // starts its crash reporter and then its backend, each from its program
  // proven, reads the 96 MB full installer once, and a backend that starts
  // its crash reporter from it and then checks it as its package once for
  // our digest. Held, the file can be
  // neither renamed nor replaced: only for a process whose own program no
  // process of its run moves before it is let go.
  static void KeepRunningProgramHeld();
  static void LetRunningProgramGo();

  // Makes the first publisher's check of this process, on this process's
  // own library, and logs its verdict: what that check pays once in a
  // process (WinVerifyTrust's providers, the certificate stores, both chain
  // engines; a third of a second under Wine) is then paid, for a process
  // that will check a file of another release and has time to spare before
  // (the backend waiting for a downloaded package). Nothing in a
  // development build, which checks nothing.
  static void ReadyPublisherCheck();

  // Why the last hold or start was refused: kNone after a hold that held;
  // kChanged for a file that could not be held (gone, not a file, its path
  // not pinned), and for a start that mapped another image than the held
  // program.
  SignatureRefusal refusal() const { return refusal_; }

  // The program held, by the name it was held under.
  const base::FilePath& program() const { return program_; }
  // What the held program is started by: its pinned path; empty when
  // nothing is held.
  const std::wstring& pinned_program_path() const {
    return pinned_program_.path();
  }

  // Whether the held program's pinned path still opens the held file
  // (HeldFilePath::Verify): 0, or why not. For a start made by the path
  // outside this object, just before it.
  [[nodiscard]] DWORD VerifyPinnedPath() const;
  // Whether the hold failed as the program's folder cannot be reached by
  // a path handed on (HeldFilePath::IsFolderRefusal): the program must be
  // moved to another folder to be started.
  bool refused_for_folder() const {
    return HeldFilePath::IsFolderRefusal(pin_error_);
  }

  // For a start this object cannot make itself (the shell's "runas" starts
  // no process suspended): whether the running `process` is the held
  // program. Its mapped image holds the held bytes where no code writes,
  // or, where the handle does not let this process read it (an elevated
  // process's is closed to an unelevated one), the file its image was
  // mapped from is the held file (HeldFilePath::VerifyProcessImage). False
  // with `unproven` saying why, for the log.
  [[nodiscard]] bool ProveRunningProgram(HANDLE process,
                                         std::string* unproven) const;

  // Starts the held program with `command_line`, whose program it must be
  // (the child gets the pinned path in its place), and releases the files
  // once it has started (then waits for it when `options` say so). Invalid
  // when nothing is held, the pinned path no longer opens the held file,
  // the start fails, or the started process's image is not the held
  // program (ended before it ran, logged, refusal() kChanged).
  base::Process Launch(const base::CommandLine& command_line,
                       const base::ProcessLaunchOptions& options);

 private:
  // `pin`: the file is the program, started by its pinned path.
  [[nodiscard]] bool HoldOne(const base::FilePath& path,
                             Identity identity,
                             bool pin);
  // Lets the suspended `process`, held by `child`, run when its image is
  // the held program's; ends it otherwise.
  [[nodiscard]] bool ResumeIfProven(const base::Process& process,
                                    base::SuspendedChild* child);
  void Release();
  // Why `file` may not be started or loaded; kNone when it may.
  SignatureRefusal RefusalOf(const HeldImageFile& file,
                             const base::FilePath& path,
                             Identity identity) const;
  // Whether `file` is of a build that runs here, signed with its
  // certificate.
  bool IsOfRunningBuild(const HeldImageFile& file,
                        const base::FilePath& path) const;

  const Requirement required_;
  base::FilePath program_;
  // The program first.
  std::vector<HeldImageFile> held_;
  HeldFilePath pinned_program_;
  // Why the program's path could not be pinned at the last hold; 0 when it
  // was.
  DWORD pin_error_ = 0;
  SignatureRefusal refusal_ = SignatureRefusal::kNone;
  // Off for this process's own program, which may start before the log is
  // open: its callers say why they go without it.
  bool log_refusals_ = true;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_PROGRAM_LAUNCHER_H_
