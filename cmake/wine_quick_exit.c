/* Preloaded by wine-run into the Wine loader of every program it starts.
 *
 * Once a Windows program has ended, wineserver gives its Linux process a
 * short grace to exit and then kills it with SIGKILL. The libc exit path
 * (atexit handlers and destructors of Wine's Linux libraries) can outlast
 * that grace on a busy machine: the program did all it had to, wrote its
 * output and set its exit code, yet its caller sees it killed. Nothing
 * after the program's end needs those handlers, so its exit goes straight
 * to the kernel with the program's own code. Every other executable keeps
 * the full exit: wineserver saves the registry on its way out. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int is_wine_loader(void) {
  char exe[4096];
  const ssize_t size = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (size <= 0)
    return 0;
  exe[size] = '\0';
  const char* name = strrchr(exe, '/');
  name = name ? name + 1 : exe;
  return strcmp(name, "wine64") == 0 || strcmp(name, "wine") == 0 ||
         strncmp(name, "wine64-preloader", 16) == 0;
}

void exit(int status) {
  if (is_wine_loader())
    _exit(status);
  void (*libc_exit)(int) = (void (*)(int))dlsym(RTLD_NEXT, "exit");
  libc_exit(status);
  _exit(status);
}
