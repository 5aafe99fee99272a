#ifndef BASE_TEST_OPEN_HANDLE_COUNT_H_
#define BASE_TEST_OPEN_HANDLE_COUNT_H_

#include <windows.h>

#include <cstdint>

namespace base {

// The number of handles open in this process, found by asking about each
// handle value in turn: GetProcessHandleCount always reads 0 under Wine.
// Handle values are handed out densely from the bottom, so a long run of
// unused values means the rest of the table is empty.
inline int CountOpenHandles() {
  constexpr uintptr_t kHandleStep = 4;
  constexpr int kUnusedRunToStop = 1024;
  int open = 0;
  int unused_run = 0;
  for (uintptr_t value = kHandleStep; unused_run < kUnusedRunToStop;
       value += kHandleStep) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++open;
      unused_run = 0;
    } else {
      ++unused_run;
    }
  }
  return open;
}

}  // namespace base

#endif  // BASE_TEST_OPEN_HANDLE_COUNT_H_
