#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_PROGRAM_LAUNCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_PROGRAM_LAUNCHER_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "desktop/windows/installer/signing/held_image_file.h"

namespace base {
class CommandLine;
struct ProcessLaunchOptions;
}  // namespace base

namespace installer {

// Starts a program from a folder that others may write (the package's, the
// temporary folder): it checks the program, and the installer library it
// will load, on handles that keep writers out, and starts it before letting
// them go, so that what starts is what was checked. Each file must carry a
// valid signature of the publisher's certificate that the build compiled in
// (BuildPublisher); when this process's program is unsigned (a development
// build), any file passes, as unsigned packages do.
class SignedProgramLauncher {
 public:
  enum class Files { kProgram, kProgramAndLibrary };

  SignedProgramLauncher();
  SignedProgramLauncher(const SignedProgramLauncher&) = delete;
  SignedProgramLauncher& operator=(const SignedProgramLauncher&) = delete;
  ~SignedProgramLauncher();

  // Holds and checks `program` and, with kProgramAndLibrary, the library
  // beside it. False (each refusal logged) when one is missing or fails:
  // the files are then released and nothing may be started.
  [[nodiscard]] bool Hold(const base::FilePath& program, Files files);

  // Holds this process's own program, by the name the system gave it, when
  // that file is still the running build (RunningImage) with the signature
  // above: a process that starts itself again in another role starts what
  // runs now, not what its user renamed it for and put in its place. Logs
  // nothing, as a process may start so before its log is open; false when
  // refused.
  [[nodiscard]] bool HoldRunningProgram();

  // The program held, by the name it was held under.
  const base::FilePath& program() const { return program_; }

  // Starts the held program with `command_line`, whose program it must be,
  // and releases the files once it has started (then waits for it when
  // `options` say so). Invalid when nothing is held or the start fails.
  base::Process Launch(const base::CommandLine& command_line,
                       const base::ProcessLaunchOptions& options);

 private:
  [[nodiscard]] bool HoldOne(const base::FilePath& path);
  // Why `file` may not be started or loaded; empty when it may.
  static std::string RefusalOf(const HeldImageFile& file);

  base::FilePath program_;
  std::vector<HeldImageFile> held_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNED_PROGRAM_LAUNCHER_H_
