#include "desktop/windows/installer/ipc/mailslot_wake_up.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "base/logging.h"

namespace installer {

namespace {

// Shorter than any message header, so no sender's message can look like it.
constexpr uint8_t kWakeUpDatagram[] = {0xFF};

}  // namespace

MailslotWakeUp::MailslotWakeUp() = default;

MailslotWakeUp::~MailslotWakeUp() = default;

bool MailslotWakeUp::Arm(const std::wstring& mailslot_path) {
  base::win::ScopedHandle mailslot(
      CreateFileW(mailslot_path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot.IsValid()) {
    PLOG(ERROR) << "Cannot open the mailslot to wake its reader";
    return false;
  }
  base::AutoLock hold(lock_);
  mailslot_ = std::move(mailslot);
  return true;
}

void MailslotWakeUp::Fire() {
  base::win::ScopedHandle mailslot;
  {
    base::AutoLock hold(lock_);
    mailslot = std::move(mailslot_);
  }
  if (!mailslot.IsValid())
    return;
  base::win::ScopedHandle written(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped = {};
  overlapped.hEvent = written.Get();
  if (WriteFile(mailslot.Get(), kWakeUpDatagram, sizeof(kWakeUpDatagram),
                nullptr, &overlapped)) {
    return;
  }
  if (GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Cannot wake the mailslot reader";
    return;
  }
  // Wine holds a write back only while the mailslot is full of unread
  // datagrams; the read returns with one of those instead.
  CancelIo(mailslot.Get());
  DWORD bytes = 0;
  GetOverlappedResult(mailslot.Get(), &overlapped, &bytes, TRUE);
}

void MailslotWakeUp::Disarm() {
  base::AutoLock hold(lock_);
  mailslot_.Close();
}

// static
bool MailslotWakeUp::IsWakeUpDatagram(const uint8_t* data, size_t size) {
  return size == sizeof(kWakeUpDatagram) &&
         memcmp(data, kWakeUpDatagram, size) == 0;
}

}  // namespace installer
