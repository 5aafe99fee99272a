// Checks the installer's checksums against other tools' from the end-to-end
// tests. Arguments come in pairs:
//   checksum_tool FILE EXPECTED [FILE EXPECTED]...
// and each pair prints "<checksum of the file's bytes> <1 or 0>", the second
// field telling whether ChecksumMatches accepts EXPECTED; "-" stands for the
// checksum of a file that cannot be read. Anything else prints a usage line
// and exits with 2, which makes the tool a small program that ends at once
// whatever it is given.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/signing/checksum.h"

namespace {

std::string ChecksumOfContents(const base::FilePath& path) {
  std::string contents;
  if (!base::ReadFileToString(path, &contents))
    return "-";
  return installer::ComputeChecksum(contents.data(), contents.size());
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  int count = 0;
  base::win::ScopedLocalAlloc<wchar_t*> argv(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv || count < 3 || count % 2 == 0) {
    std::fputs("usage: checksum_tool FILE EXPECTED [FILE EXPECTED]...\n",
               stdout);
    return 2;
  }
  for (int i = 1; i + 1 < count; i += 2) {
    const base::FilePath path(argv.Get()[i]);
    const std::string expected = base::WideToUtf8(argv.Get()[i + 1]);
    const bool matches = installer::ChecksumMatches(path, expected);
    std::printf("%s %d\n", ChecksumOfContents(path).c_str(), matches ? 1 : 0);
  }
  return 0;
}
