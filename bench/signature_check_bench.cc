// What proving a signed file costs, as a downloaded package, a partner
// program or a component is proven: the platform's trust check, then our
// own proof of the expected signer, its time-stamp and both chains, with
// the file opened and read anew each time. Milliseconds per file.
//   signature_check_bench [FILE...]
// Without a file: the build's signed and time-stamped full installer, whose
// root the build's prefixes trust.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/utf_string_conversions.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/signing/signature_verifier.h"

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

base::FilePath BuildFullInstaller() {
  wchar_t program[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  return base::FilePath(program).DirName().DirName().Append(
      L"installer_files\\full\\installer.exe");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = bench::ReadArguments(argc, argv);
  std::vector<base::FilePath> files;
  for (const std::string& argument : arguments)
    files.emplace_back(base::Utf8ToWide(argument));
  if (files.empty())
    files.push_back(BuildFullInstaller());
  for (const base::FilePath& file : files) {
    std::string report;
    if (!installer::VerifyFileSignature(file, &report)) {
      std::fprintf(stderr, "%s is refused:\n%s", file.AsUTF8().c_str(),
                   report.c_str());
      return 1;
    }
    const double rate = bench::MeasureRate(
        [&] {
          const bool verdict = installer::VerifyFileSignature(file, nullptr);
          bench::DoNotOptimize(&verdict);
        },
        1, 2.0);
    bench::Report("signature check of " + file.BaseName().AsUTF8(),
                  kMillisecondsPerSecond / rate, "ms");
  }
  return 0;
}
