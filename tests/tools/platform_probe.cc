// Reports what the platform tells a program of this build, for the
// end-to-end tests that check the build's settings under Wine:
//   platform_probe windows-version   prints "major.minor.build"
//   platform_probe rename FROM TO     renames as a user's own Windows
//                                     process would, and prints the
//                                     Windows error (0 when renamed)

#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "windows-version") == 0) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    // GetVersionExW answers according to the manifest, which is what we check.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return 1;
#pragma GCC diagnostic pop
    std::printf("%lu.%lu.%lu\n", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "rename") == 0) {
    const BOOL renamed = MoveFileA(argv[2], argv[3]);
    std::printf("%lu\n", renamed ? 0UL : GetLastError());
    return 0;
  }
  std::fprintf(stderr,
               "usage: platform_probe windows-version | rename FROM TO\n");
  return 2;
}
