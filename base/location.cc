#include "base/location.h"

namespace base {

__attribute__((noinline)) const void* GetProgramCounter() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

}  // namespace base
