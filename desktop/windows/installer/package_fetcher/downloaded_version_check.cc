#include "desktop/windows/installer/package_fetcher/downloaded_version_check.h"

#include <optional>
#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/log_escape.h"
#include "base/threading/lock.h"
#include "base/version.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"

namespace installer {

namespace {

// A build may let packages older than itself pass; this one does not.
constexpr char kAllowedVersionOverride[] = "";
constexpr uint32_t kAllowedVersionOverrideMajorSlack = 50;

// What a downloaded program prints for a switch; nothing when it is refused
// (why, in `refusal`). It lies in a folder the user may write: it runs only
// as checked and held, with the library it will load when `files` say so.
// Read under the launch lock: the child inherits our inheritable handles,
// which no other launch may pick up.
std::optional<std::string> ReadProgramOutput(
    const base::FilePath& program,
    SignedProgramLauncher::Files files,
    const char* switch_name,
    SignatureRefusal* refusal) {
  SignedProgramLauncher launcher;
  if (!launcher.Hold(program, files,
                     SignedProgramLauncher::Identity::kPublisher)) {
    *refusal = launcher.refusal();
    return std::nullopt;
  }
  base::CommandLine command_line(program);
  command_line.AppendSwitch(switch_name);
  std::string output;
  base::AutoLock hold(base::GetProcessLaunchLock());
  if (!base::ReadProcessOutput(
          command_line, &output,
          [&launcher](const base::CommandLine& checked,
                      const base::ProcessLaunchOptions& options) {
            return launcher.Launch(checked, options);
          }) &&
      launcher.refusal() != SignatureRefusal::kNone) {
    // Its path led to another image than the one checked.
    *refusal = launcher.refusal();
    return std::nullopt;
  }
  return output;
}

base::Version GetVersionBaseline() {
  base::Version baseline(GetInternalVersion());
  const base::Version allowed(kAllowedVersionOverride);
  if (allowed.IsValid() && !baseline.components().empty() &&
      allowed.components()[0] + kAllowedVersionOverrideMajorSlack >=
          baseline.components()[0]) {
    VLOG(1) << "Using allowed version override " << kAllowedVersionOverride;
    return allowed;
  }
  return baseline;
}

}  // namespace

VersionCheck CheckDownloadedVersion(
    const base::FilePath& executable,
    DownloadedProgram program,
    StatsNode* node,
    std::string* version_read,
    SignatureRefusal* refusal) {
  SignatureRefusal refused = SignatureRefusal::kNone;
  if (!refusal)
    refusal = &refused;
  // The package's installer loads the library beside it; a component's
  // installer is held alone.
  const bool package = program == DownloadedProgram::kPackageInstaller;
  const SignedProgramLauncher::Files files =
      package ? SignedProgramLauncher::Files::kProgramAndLibrary
              : SignedProgramLauncher::Files::kProgram;
  // Held for both questions, the files are judged once (HeldFileRegistry),
  // though each run releases them once it has started.
  SignedProgramLauncher checked;
  if (!checked.Hold(executable, files,
                    SignedProgramLauncher::Identity::kPublisher)) {
    *refusal = checked.refusal();
    return VersionCheck::kSignatureRefused;
  }
  const base::Version baseline = GetVersionBaseline();
  const std::optional<std::string> version_text =
      ReadProgramOutput(executable, files, switches::kInternalVersion, refusal);
  if (!version_text)
    return VersionCheck::kSignatureRefused;
  VLOG(1) << "Downloaded item version: " << base::EscapeForLog(*version_text);
  if (node)
    node->SetString("internal_version", *version_text);
  const base::Version version(*version_text);
  if (!version.IsValid()) {
    LOG(ERROR) << "Downloaded item printed no version";
    return VersionCheck::kRefused;
  }
  if (version.CompareTo(baseline) < 0) {
    LOG(ERROR) << "Downloaded item is older than the installer";
    return VersionCheck::kOlderThanInstaller;
  }
  if (version_read)
    *version_read = *version_text;
  if (!package)
    return VersionCheck::kPassed;
  const std::optional<std::string> stream =
      ReadProgramOutput(executable, files, switches::kStream, refusal);
  if (!stream)
    return VersionCheck::kSignatureRefused;
  VLOG(1) << "Downloaded item stream: " << base::EscapeForLog(*stream);
  if (node)
    node->SetString("stream", *stream);
  if (*stream != GetStreamName()) {
    LOG(ERROR) << "Downloaded item is of a different stream than the "
                  "installer";
    return VersionCheck::kRefused;
  }
  return VersionCheck::kPassed;
}

}  // namespace installer
