#include "desktop/windows/installer/wininet/wininet_open_handles.h"

#include "base/logging.h"

namespace installer {

WinInetOpenHandles::WinInetOpenHandles()
    : all_closed_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
  CHECK(all_closed_.IsValid());
}

WinInetOpenHandles::~WinInetOpenHandles() = default;

void WinInetOpenHandles::OnOpened() {
  // Handles are opened on the owner's thread while the connection's stays
  // open, so the count cannot reach 0 between this and the reset.
  if (open_.fetch_add(1) == 0)
    ::ResetEvent(all_closed_.Get());
}

void WinInetOpenHandles::OnClosed() {
  if (open_.fetch_sub(1) == 1)
    ::SetEvent(all_closed_.Get());
}

bool WinInetOpenHandles::WaitUntilAllClosed(base::TimeDelta limit) const {
  return ::WaitForSingleObject(all_closed_.Get(),
                               static_cast<DWORD>(limit.InMilliseconds())) ==
         WAIT_OBJECT_0;
}

}  // namespace installer
