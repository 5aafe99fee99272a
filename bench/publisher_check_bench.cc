// What proving a package's installer and library costs a process, as the
// hand-over to the package proves them: the publisher's check of both
// (WinVerifyTrust, then our own proof of the signer and its chain to the
// publisher's roots) as the first in a process, which pays once for
// WinVerifyTrust's providers, the certificate stores and both chain
// engines; the same after a check of another file readied them (as the
// backend does while it waits for a downloaded package); and the running
// build's certificate check, which builds no chain (a package of the build
// that runs). Each sample is a process of its own: the program starts
// itself again for it.
//   publisher_check_bench [--smoke] [FOLDER [OTHER_FILE]]
// FOLDER holds installer.exe and the library, signed with the build's test
// keys (the build's installer_files/online by default); OTHER_FILE is the
// file the check is readied on (installer_files/full's library).

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/signing/signer_certificate.h"

namespace {

// The first argument of a sample's own process.
constexpr char kChildSwitch[] = "sample";
// The signer the build's test keys name, as the host's branding does.
constexpr char kBranding[] =
    R"({"expected_signer": "Tarvo Software Test Signing"})";

enum class Mode { kFirst, kReadied, kCertificate };

struct Case {
  Mode mode;
  const char* name;
};
constexpr Case kCases[] = {
    {Mode::kFirst, "publisher's check of installer and library, first"},
    {Mode::kReadied, "publisher's check of installer and library, readied"},
    {Mode::kCertificate, "build's certificate check of both"},
};

double Milliseconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

bool CheckPublisher(const base::FilePath& path) {
  installer::HeldImageFile file;
  return file.Open(path.value().c_str()) == 0 &&
         installer::CheckImageSignature(file.bytes(), file.handle(), path,
                                        &installer::BuildPublisher::Roots(),
                                        nullptr) ==
             installer::SignatureRefusal::kNone;
}

bool CheckCertificate(const base::FilePath& path) {
  installer::HeldImageFile file;
  return file.Open(path.value().c_str()) == 0 &&
         installer::BuildPublisher::Certificate().Check(file) ==
             installer::SignatureRefusal::kNone;
}

// One sample: prints the milliseconds the two checks took, or fails.
int RunChild(Mode mode,
             const base::FilePath& folder,
             const base::FilePath& other) {
  installer::internal::SetBrandingForTesting(kBranding);
  if (mode == Mode::kReadied && !CheckPublisher(other))
    return 1;
  bool (*const check)(const base::FilePath&) =
      mode == Mode::kCertificate ? &CheckCertificate : &CheckPublisher;
  LARGE_INTEGER start;
  ::QueryPerformanceCounter(&start);
  const bool held = check(folder.Append(installer::kPackageInstallerName)) &&
                    check(folder.Append(installer::kInstallerLibraryName));
  const double milliseconds = Milliseconds(start);
  if (!held)
    return 1;
  std::printf("%.3f\n", milliseconds);
  return 0;
}

bool Sample(const base::FilePath& self,
            Mode mode,
            const base::FilePath& folder,
            const base::FilePath& other,
            double* milliseconds) {
  base::CommandLine command_line(self);
  command_line.AppendArg(kChildSwitch);
  command_line.AppendArg(std::to_string(static_cast<int>(mode)));
  command_line.AppendArg(base::WideToUtf8(folder.value()));
  command_line.AppendArg(base::WideToUtf8(other.value()));
  std::string output;
  base::AutoLock hold(base::GetProcessLaunchLock());
  if (!base::ReadProcessOutput(command_line, &output) || output.empty())
    return false;
  *milliseconds = std::strtod(output.c_str(), nullptr);
  return true;
}

base::FilePath BuildFolder(const base::FilePath& self) {
  return self.DirName().DirName().Append(L"installer_files");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = bench::ReadArguments(argc, argv);
  if (arguments.size() == 4 && arguments[0] == kChildSwitch) {
    return RunChild(static_cast<Mode>(std::atoi(arguments[1].c_str())),
                    base::FilePath(base::Utf8ToWide(arguments[2])),
                    base::FilePath(base::Utf8ToWide(arguments[3])));
  }
  base::FilePath self;
  if (!base::GetPathForKey(base::kExeFile, &self))
    return 1;
  const base::FilePath folder =
      arguments.size() > 0 ? base::FilePath(base::Utf8ToWide(arguments[0]))
                           : BuildFolder(self).Append(L"online");
  const base::FilePath other =
      arguments.size() > 1
          ? base::FilePath(base::Utf8ToWide(arguments[1]))
          : BuildFolder(self).Append(L"full").Append(
                installer::kInstallerLibraryName);
  const int samples = bench::SmokeOr(9, 1);
  for (const Case& test : kCases) {
    std::vector<double> taken;
    for (int i = 0; i < samples; ++i) {
      double milliseconds = 0;
      if (!Sample(self, test.mode, folder, other, &milliseconds)) {
        std::fprintf(stderr, "%s: a sample failed\n", test.name);
        return 1;
      }
      taken.push_back(milliseconds);
    }
    std::sort(taken.begin(), taken.end());
    char spread[64];
    std::snprintf(spread, sizeof(spread), " (median of %d, %.1f-%.1f ms)",
                  samples, taken.front(), taken.back());
    bench::Report(test.name + std::string(spread), taken[taken.size() / 2],
                  "ms");
  }
  return 0;
}
