// Reports what the platform tells a program of this build, for the
// end-to-end tests that check the build's settings under Wine:
//   platform_probe windows-version   prints "major.minor.build"

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
  std::fprintf(stderr, "usage: platform_probe windows-version\n");
  return 2;
}
