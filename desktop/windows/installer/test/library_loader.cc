// Loads the library named by its argument and reports "loaded", or
// "failed <error>" with exit code 2.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: library_loader LIBRARY\n");
    return 1;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (!library) {
    printf("failed %lu\n", GetLastError());
    return 2;
  }
  printf("loaded\n");
  fflush(stdout);
  FreeLibrary(library);
  return 0;
}
