#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

namespace base::win {

// Owns one Windows handle: closes it on destruction and reports its whole
// life to the process's HandleVerifier. Both null and INVALID_HANDLE_VALUE
// mean "no handle"; after closing the held value is null.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle);
  ScopedHandle(ScopedHandle&& other) noexcept;
  ScopedHandle& operator=(ScopedHandle&& other) noexcept;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle();

  static bool IsHandleValid(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }

  bool IsValid() const { return IsHandleValid(handle_); }
  HANDLE Get() const { return handle_; }

  // Closes the held handle (unless it is |handle| itself) and takes
  // ownership of |handle|. Leaves GetLastError unchanged.
  void Set(HANDLE handle);

  // Gives up ownership without closing; the caller closes the result.
  HANDLE Take();

  void Close();

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_HANDLE_H_
