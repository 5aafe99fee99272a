#include "desktop/windows/installer/wininet/scoped_internet_handle.h"

namespace installer {

void ScopedInternetHandle::Set(HINTERNET handle) {
  HINTERNET previous = handle_.exchange(handle);
  if (previous && previous != handle)
    ::InternetCloseHandle(previous);
}

void ScopedInternetHandle::Close() {
  HINTERNET previous = handle_.exchange(nullptr);
  if (previous)
    ::InternetCloseHandle(previous);
}

}  // namespace installer
