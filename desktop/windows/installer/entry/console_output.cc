#include "desktop/windows/installer/entry/console_output.h"

#include <cstdarg>
#include <cstdio>

namespace installer {

void PrintToConsole(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
}

}  // namespace installer
