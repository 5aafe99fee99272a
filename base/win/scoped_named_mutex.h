#ifndef BASE_WIN_SCOPED_NAMED_MUTEX_H_
#define BASE_WIN_SCOPED_NAMED_MUTEX_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace base::win {

// A named mutex that processes share: made, or opened when another process
// made it first. Owns its handle, and releases the mutex on destruction if
// this object took it. A mutex belongs to the thread that took it: take,
// release and destroy on one thread.
class ScopedNamedMutex {
 public:
  struct Options {
    // Children started with handle inheritance get the handle too (they
    // keep what the holder took while they live).
    bool inheritable = false;
    // A mutex made by a process of other rights may refuse to be made again
    // here; it is then opened for waiting and releasing only.
    bool open_if_denied = false;
  };

  explicit ScopedNamedMutex(const std::wstring& name)
      : ScopedNamedMutex(name, Options()) {}
  ScopedNamedMutex(const std::wstring& name, Options options);
  ScopedNamedMutex(const ScopedNamedMutex&) = delete;
  ScopedNamedMutex& operator=(const ScopedNamedMutex&) = delete;
  ~ScopedNamedMutex();

  // False when it could be neither made nor opened (logged).
  bool IsValid() const { return mutex_.IsValid(); }

  // Waits up to `wait_ms` (INFINITE allowed) for the mutex. True once this
  // thread holds it, also when its last holder ended without releasing it
  // (abandoned() then says so: what the holder guarded may be half done).
  [[nodiscard]] bool Acquire(DWORD wait_ms);
  bool held() const { return held_; }
  bool abandoned() const { return abandoned_; }

  // Lets go of the mutex now, if held.
  void Release();
  // Closes the handle without releasing: the mutex stays this thread's
  // until the thread ends, and the next taker finds it abandoned. For a
  // holder whose child may still work on what the mutex guards.
  void CloseWithoutRelease();

 private:
  const std::wstring name_;
  ScopedHandle mutex_;
  bool held_ = false;
  bool abandoned_ = false;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_NAMED_MUTEX_H_
