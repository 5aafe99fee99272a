#include "desktop/windows/installer/signing/signed_program_launcher.h"

#include "base/command_line.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signer_certificate.h"

namespace installer {

SignedProgramLauncher::SignedProgramLauncher() = default;
SignedProgramLauncher::~SignedProgramLauncher() = default;

bool SignedProgramLauncher::Hold(const base::FilePath& program, Files files) {
  held_.clear();
  program_ = program;
  const bool held =
      HoldOne(program) &&
      (files == Files::kProgram ||
       HoldOne(program.DirName().Append(kInstallerLibraryName)));
  if (!held)
    held_.clear();
  return held;
}

bool SignedProgramLauncher::HoldRunningProgram() {
  held_.clear();
  HeldImageFile own;
  // The name the system gave the program, never the command line's.
  if (!base::GetWindowsPath(base::kExeFile, &program_) ||
      own.Open(program_.value().c_str()) != 0 ||
      !RunningImage::IsOwnProgram(own.bytes()) || !RefusalOf(own).empty()) {
    return false;
  }
  held_.push_back(std::move(own));
  return true;
}

bool SignedProgramLauncher::HoldOne(const base::FilePath& path) {
  HeldImageFile file;
  if (const DWORD error = file.Open(path.value().c_str())) {
    LOG(ERROR) << "Cannot hold " << path.AsUTF8() << ": "
               << base::SystemErrorCodeToString(error);
    return false;
  }
  const std::string refusal = RefusalOf(file);
  if (!refusal.empty()) {
    LOG(ERROR) << "Refusing " << path.AsUTF8() << ": " << refusal;
    return false;
  }
  held_.push_back(std::move(file));
  return true;
}

// static
std::string SignedProgramLauncher::RefusalOf(const HeldImageFile& file) {
  const SignerCertificate* signer = BuildPublisher::RequiredSigner();
  if (!signer)
    return std::string();
  const SignerCheck check = signer->Check(file);
  return check == SignerCheck::kSameSigner
             ? std::string()
             : std::string("it is ") + SignerCertificate::Describe(check);
}

base::Process SignedProgramLauncher::Launch(
    const base::CommandLine& command_line,
    const base::ProcessLaunchOptions& options) {
  if (held_.empty() || command_line.GetProgram() != program_) {
    LOG(ERROR) << "Refusing to start a program that is not held: "
               << command_line.GetProgram().AsUTF8();
    return base::Process();
  }
  base::ProcessLaunchOptions started_only = options;
  started_only.wait = false;
  base::Process process =
      base::LaunchProcessForCommandLine(command_line, started_only);
  // Started (or not): its image is mapped, and its own host checks the
  // library again before it maps it.
  const DWORD launch_error = ::GetLastError();
  held_.clear();
  ::SetLastError(launch_error);
  if (process.IsValid() && options.wait && !process.WaitForExit(nullptr))
    PLOG(WARNING) << "Could not wait for " << program_.AsUTF8();
  return process;
}

}  // namespace installer
