// Prints how this process's own command line was split into arguments, so a
// test can check what a rendered command line becomes in a real child.
// One line per argument, the UTF-16 units as 4-digit hex: "s " lines for
// CommandLineToArgvW(GetCommandLineW()), then "c " lines for the C runtime's
// own split.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>

extern "C" int __wgetmainargs(int* argc,
                              wchar_t*** argv,
                              wchar_t*** env,
                              int expand_wildcards,
                              int* startup_info);

namespace {

void PrintArgument(const char* tag, const wchar_t* argument) {
  std::fputs(tag, stdout);
  for (const wchar_t* unit = argument; *unit; ++unit)
    std::printf("%04x", static_cast<unsigned>(*unit));
  std::fputc('\n', stdout);
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!split)
    return 1;
  for (int i = 0; i < count; ++i)
    PrintArgument("s ", split[i]);
  ::LocalFree(split);

  int crt_count = 0;
  wchar_t** crt_argv = nullptr;
  wchar_t** crt_env = nullptr;
  int startup_info = 0;
  if (__wgetmainargs(&crt_count, &crt_argv, &crt_env, 0, &startup_info) < 0)
    return 2;
  for (int i = 0; i < crt_count; ++i)
    PrintArgument("c ", crt_argv[i]);
  return std::fflush(stdout) == 0 ? 0 : 3;
}
