#include "desktop/windows/installer/ipc/mailslot_reader.h"

#include <utility>

#include "base/binary_writer.h"
#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot_wake_up.h"

namespace installer {

MailslotReader::MailslotReader(base::win::ScopedHandle mailslot,
                               DatagramCallback on_datagram)
    : mailslot_(std::move(mailslot)),
      on_datagram_(std::move(on_datagram)),
      buffer_(std::make_unique<uint8_t[]>(kMaxInstallerMessageSize)) {}

MailslotReader::~MailslotReader() {
  VLOG(1) << "Closing mailslot";
  if (read_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    CancelIo(mailslot_.Get());
  }
  mailslot_.Close();
  // The buffer and the context belong to the read until it completes.
  while (read_pending_) {
    base::MessageLoop::current()->WaitForIOCompletion(INFINITE, this);
  }
}

bool MailslotReader::StartOverlappedReads() {
  if (!base::MessageLoop::current()->RegisterIOHandler(mailslot_.Get(), this))
    return false;
  ReadOverlapped();
  return true;
}

void MailslotReader::StartBlockingReads() {
  read_done_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  PostBlockingRead();
}

void MailslotReader::ReadOverlapped() {
  if (!mailslot_.IsValid())
    return;
  auto context = std::make_unique<IoContext>();
  if (!ReadFile(mailslot_.Get(), buffer_.get(), kMaxInstallerMessageSize,
                nullptr, &context->overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Cannot read from mailslot";
    return;
  }
  // The completion hands the context back to OnIOCompleted.
  (void)context.release();
  read_pending_ = true;
}

void MailslotReader::OnIOCompleted(IoContext* context,
                                   DWORD bytes_transferred,
                                   DWORD error) {
  std::unique_ptr<IoContext> completed(context);
  read_pending_ = false;
  HandleDatagram(bytes_transferred);
  ReadOverlapped();
}

void MailslotReader::ReadBlocking() {
  if (!mailslot_.IsValid())
    return;
  DWORD size = 0;
  if (ReadAndWait(&size)) {
    HandleDatagram(size);
  } else if (GetLastError() != ERROR_BROKEN_PIPE) {
    PLOG(ERROR) << "Cannot read from mailslot";
    return;
  }
  // Wine reports an empty datagram as a broken pipe; the next read works.
  PostBlockingRead();
}

void MailslotReader::PostBlockingRead() {
  base::MessageLoop::current()->task_runner()->PostTask(
      FROM_HERE, base::BindWeak(&MailslotReader::ReadBlocking,
                                weak_source_.GetRef(), this));
}

bool MailslotReader::ReadAndWait(DWORD* bytes_read) {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = read_done_.Get();
  if (!ReadFile(mailslot_.Get(), buffer_.get(), kMaxInstallerMessageSize,
                nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  return GetOverlappedResult(mailslot_.Get(), &overlapped, bytes_read, TRUE);
}

void MailslotReader::HandleDatagram(DWORD size) {
  if (size == 0 || MailslotWakeUp::IsWakeUpDatagram(buffer_.get(), size))
    return;
  const base::BinaryWriter datagram(buffer_.get(), static_cast<int>(size));
  on_datagram_.Run(datagram);
}

}  // namespace installer
