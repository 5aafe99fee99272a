// The package's unpacking and checksum as whole programs, for timing from
// outside against 7zz and openssl on the same files (see
// bench/unpack_vs_7zz.sh). Each also prints its own time of the work alone,
// without Wine's process start.
//   package_unpack_bench unpack ARCHIVE FOLDER
//       PackageUnpacker unpacks ARCHIVE into FOLDER (files already there are
//       overwritten, as 7zz -aoa does).
//   package_unpack_bench checksum FILE SHA256
//       ChecksumMatches of FILE against the lower-case hex SHA256.

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"
#include "desktop/windows/installer/signing/checksum.h"

namespace {

double Seconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

int UnPack(const base::FilePath& archive, const base::FilePath& folder) {
  LARGE_INTEGER start;
  ::QueryPerformanceCounter(&start);
  installer::PackageUnpacker unpacker;
  if (unpacker.OpenArchive(archive) != 0)
    return 1;
  const installer::PackageUnpacker::Result result = unpacker.UnPack(folder);
  const double seconds = Seconds(start);
  std::printf("result %d\n", result.error);
  bench::Report("PackageUnpacker::UnPack", seconds, "s");
  return result.ok() ? 0 : 1;
}

int Checksum(const base::FilePath& file, const std::string& expected) {
  LARGE_INTEGER start;
  ::QueryPerformanceCounter(&start);
  const bool matches = installer::ChecksumMatches(file, expected);
  const double seconds = Seconds(start);
  int64_t size = 0;
  base::GetFileSize(file, &size);
  std::printf("matches %d\n", matches ? 1 : 0);
  bench::Report("ChecksumMatches", size / 1e6 / seconds, "MB/s");
  return matches ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"unpack")
    return UnPack(base::FilePath(argv[2]), base::FilePath(argv[3]));
  if (argc == 4 && std::wstring(argv[1]) == L"checksum")
    return Checksum(base::FilePath(argv[2]), base::WideToUtf8(argv[3]));
  std::fputs(
      "usage: package_unpack_bench unpack ARCHIVE FOLDER | "
      "checksum FILE SHA256\n",
      stderr);
  return 2;
}
