#include "desktop/windows/installer/ipc/mailslot_writer.h"

#include <utility>

#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "desktop/windows/installer/ipc/installer_message.h"

namespace installer {

MailslotWriter::MailslotWriter(base::win::ScopedHandle mailslot)
    : mailslot_(std::move(mailslot)) {}

MailslotWriter::~MailslotWriter() {
  VLOG(1) << "Closing mailslot.";
  base::MessageLoop* loop = base::MessageLoop::current();
  // The last reports of an installation are sent right before the sender
  // closes: write them out as long as the mailslot takes them at once.
  while (write_pending_ && write_done_at_once_)
    loop->WaitForIOCompletion(INFINITE, this);
  if (write_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    CancelIo(mailslot_.Get());
  }
  mailslot_.Close();
  while (write_pending_)
    loop->WaitForIOCompletion(INFINITE, this);
  VLOG(1) << "Messages unsent: " << queue_.size();
}

bool MailslotWriter::RegisterWithLoop() {
  return base::MessageLoop::current()->RegisterIOHandler(mailslot_.Get(), this);
}

void MailslotWriter::Enqueue(std::unique_ptr<InstallerMessage> message) {
  queue_.push_back(std::move(message));
  WriteNext();
}

void MailslotWriter::WriteNext() {
  while (!write_pending_ && mailslot_.IsValid() && !queue_.empty()) {
    const InstallerMessage& front = *queue_.front();
    if (front.size() > kMaxInstallerMessageSize) {
      LOG(ERROR) << "Dropped an installer message of " << front.size()
                 << " bytes, more than one mailslot datagram holds";
    } else if (StartWrite(front)) {
      return;
    } else {
      LOG(ERROR) << "Dropped an installer message that could not be written";
    }
    queue_.pop_front();
  }
}

bool MailslotWriter::StartWrite(const InstallerMessage& message) {
  auto context = std::make_unique<IoContext>();
  if (WriteFile(mailslot_.Get(), message.data(),
                static_cast<DWORD>(message.size()), nullptr,
                &context->overlapped)) {
    write_done_at_once_ = true;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    write_done_at_once_ = false;
  } else {
    PLOG(ERROR) << "Cannot write to mailslot";
    return false;
  }
  // The completion hands the context back to OnIOCompleted.
  (void)context.release();
  write_pending_ = true;
  return true;
}

void MailslotWriter::OnIOCompleted(IoContext* context,
                                   DWORD bytes_transferred,
                                   DWORD error) {
  std::unique_ptr<IoContext> completed(context);
  write_pending_ = false;
  queue_.pop_front();
  WriteNext();
}

}  // namespace installer
