#include "desktop/windows/installer/ipc/ipc_receiver.h"

#include <windows.h>

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/ipc/mailslot_reader.h"

namespace installer {

IpcReceiver::IpcReceiver(Delegate* delegate)
    : thread_("Installer IPC thread"),
      delegate_(delegate),
      self_ref_(weak_source_.GetRef()) {
  CHECK(base::MessageLoop::current()) << "The owner thread needs a loop";
  owner_task_runner_ = base::MessageLoop::current()->task_runner();
}

IpcReceiver::~IpcReceiver() {
  Close();
  weak_source_.Invalidate();
}

bool IpcReceiver::Connect(const std::wstring& channel_name) {
  VLOG(1) << "Preparing to receive IPC on " << base::WideToUtf8(channel_name);
  base::ThreadStartOptions options;
  options.loop_type = base::MessageLoop::Type::kIO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  thread_.GetTaskRunner()->PostTask(FROM_HERE,
                                    base::Bind(&IpcReceiver::CreateReader, this,
                                               GetMailslotPath(channel_name)));
  return true;
}

void IpcReceiver::Close() {
  VLOG(1) << "Stopping RPC receiver";
  if (base::RefPtr<base::SequencedTaskRunner> runner =
          thread_.GetTaskRunner()) {
    runner->PostTask(FROM_HERE, base::Bind(&IpcReceiver::DeleteReader, this));
    // Posted first: a read that the wake-up ends is followed by the deletion,
    // and a reader that arms after this point reads only after its deletion.
    wake_up_.Fire();
  }
  thread_.Stop();
}

void IpcReceiver::CreateReader(const std::wstring& mailslot_path) {
  VLOG(1) << "Creating mailslot " << base::WideToUtf8(mailslot_path);
  base::win::ScopedHandle mailslot(
      CreateMailslotW(mailslot_path.c_str(), kMaxInstallerMessageSize,
                      MAILSLOT_WAIT_FOREVER, nullptr));
  if (!mailslot.IsValid()) {
    PLOG(ERROR) << "Failed creating " << base::WideToUtf8(mailslot_path);
    return;
  }
  reader_ = std::make_unique<MailslotReader>(
      std::move(mailslot), base::Bind<void(const base::BinaryWriter&)>(
                               &IpcReceiver::OnDatagram, this));
  if (reader_->StartOverlappedReads())
    return;
  // Wine: the mailslot cannot join the completion port. Its reads then block
  // this thread, and closing must be able to wake it.
  VLOG(1) << "Reading the mailslot with blocking reads";
  if (!wake_up_.Arm(mailslot_path)) {
    reader_.reset();
    return;
  }
  reader_->StartBlockingReads();
}

void IpcReceiver::DeleteReader() {
  reader_.reset();
  wake_up_.Disarm();
}

void IpcReceiver::OnDatagram(const base::BinaryWriter& datagram) {
  auto message = std::make_unique<InstallerMessage>(datagram);
  owner_task_runner_->PostTask(
      base::SourceLocation("OnMessageReceived", __FILE__, __LINE__,
                           base::GetProgramCounter()),
      base::BindWeak(&IpcReceiver::DeliverMessage, self_ref_, this,
                     std::move(message)));
}

void IpcReceiver::DeliverMessage(
    const std::unique_ptr<InstallerMessage>& message) {
  delegate_->OnMessageReceived(*message);
}

}  // namespace installer
