#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_

#include <windows.h>

#include <cstdint>
#include <memory>

#include "base/closure.h"
#include "base/message_loop/message_pump_io.h"
#include "base/weak_reference.h"
#include "base/win/scoped_handle.h"

namespace base {
class BinaryWriter;
}

namespace installer {

// Reads the datagrams of a mailslot that this process created, one at a
// time, into one fixed buffer. Lives on the thread of an I/O message loop
// (the receiver's "Installer IPC thread"); deleting it there closes the
// mailslot.
class MailslotReader : public base::MessagePumpForIO::IOHandler {
 public:
  // Gets each datagram, on the reader's thread, as a read-only view that is
  // valid for the call only. Empty datagrams and the wake-up datagram are
  // dropped before.
  using DatagramCallback =
      base::Callback<void(const base::BinaryWriter& datagram)>;

  MailslotReader(base::win::ScopedHandle mailslot,
                 DatagramCallback on_datagram);
  MailslotReader(const MailslotReader&) = delete;
  MailslotReader& operator=(const MailslotReader&) = delete;
  // Cancels an outstanding read and waits for its completion.
  ~MailslotReader() override;

  // Reads that the thread's loop completes. False, with nothing started,
  // when the mailslot cannot join the loop's completion port.
  bool StartOverlappedReads();
  // One blocking read per task of the thread's loop, so that other tasks
  // (the reader's deletion among them) run between two datagrams.
  void StartBlockingReads();

 private:
  using IoContext = base::MessagePumpForIO::IoContext;

  void ReadOverlapped();
  // base::MessagePumpForIO::IOHandler:
  void OnIOCompleted(IoContext* context,
                     DWORD bytes_transferred,
                     DWORD error) override;

  void ReadBlocking();
  void PostBlockingRead();
  bool ReadAndWait(DWORD* bytes_read);

  void HandleDatagram(DWORD size);

  base::win::ScopedHandle mailslot_;
  DatagramCallback on_datagram_;
  std::unique_ptr<uint8_t[]> buffer_;
  bool read_pending_ = false;
  // Blocking reads only.
  base::win::ScopedHandle read_done_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_
