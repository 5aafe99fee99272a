#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WAKE_UP_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WAKE_UP_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Wakes a receiver's IPC thread that waits in a blocking read. Under Wine a
// mailslot cannot join a completion port and a read that waits on it cannot
// be cancelled, so the thread waits in a plain read; closing the receiver
// then writes it one datagram of its own, which the reader drops. Armed on
// the IPC thread before its first read, fired on the owner thread.
class MailslotWakeUp {
 public:
  MailslotWakeUp();
  MailslotWakeUp(const MailslotWakeUp&) = delete;
  MailslotWakeUp& operator=(const MailslotWakeUp&) = delete;
  ~MailslotWakeUp();

  // Opens the mailslot for writing; false (logged) when it cannot, and a
  // read must then not block, as nothing could end it.
  bool Arm(const std::wstring& mailslot_path);
  // Writes the wake-up datagram when armed, and disarms.
  void Fire();
  // Closes the handle unused: under Wine it would keep the mailslot's name
  // taken after the reader has closed it.
  void Disarm();

  static bool IsWakeUpDatagram(const uint8_t* data, size_t size);

 private:
  base::Lock lock_;
  // Guarded by `lock_`.
  base::win::ScopedHandle mailslot_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WAKE_UP_H_
