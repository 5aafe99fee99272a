#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_

#include <windows.h>

#include <deque>
#include <memory>

#include "base/message_loop/message_pump_io.h"
#include "base/win/scoped_handle.h"

namespace installer {

class InstallerMessage;

// Writes installer messages to a mailslot that another process created, in
// order, one overlapped write at a time. Lives on the thread of an I/O
// message loop (the sender's "Installer IPC thread").
class MailslotWriter : public base::MessagePumpForIO::IOHandler {
 public:
  // `mailslot` is opened for overlapped writing.
  explicit MailslotWriter(base::win::ScopedHandle mailslot);
  MailslotWriter(const MailslotWriter&) = delete;
  MailslotWriter& operator=(const MailslotWriter&) = delete;
  // Writes out what the mailslot takes at once, then cancels a write that
  // waits (under Wine, for a reader that has fallen behind or gone) and
  // drops the messages behind it.
  ~MailslotWriter() override;

  // Joins the thread loop's completion port; false (logged) when it cannot.
  bool RegisterWithLoop();
  // Writes `message` once those before it are written. A message that
  // cannot be written is dropped with a log line, so that it holds back
  // none of the later ones.
  void Enqueue(std::unique_ptr<InstallerMessage> message);

 private:
  using IoContext = base::MessagePumpForIO::IoContext;

  void WriteNext();
  bool StartWrite(const InstallerMessage& message);
  // base::MessagePumpForIO::IOHandler:
  void OnIOCompleted(IoContext* context,
                     DWORD bytes_transferred,
                     DWORD error) override;

  base::win::ScopedHandle mailslot_;
  // The front one is being written while a write is pending.
  std::deque<std::unique_ptr<InstallerMessage>> queue_;
  bool write_pending_ = false;
  // The pending write finished inside WriteFile: its completion is queued.
  bool write_done_at_once_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_
