#include "desktop/windows/installer/ipc/ipc_receiver.h"

#include <windows.h>

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/sync_event.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/ipc/mailslot_reader.h"

namespace installer {

namespace {

// Written by the receiver itself behind the datagrams it waits for: a
// header announcing no payload, which no installer message is (each has
// its signature).
constexpr uint8_t kFlushMarker[] = {0, 0, 0, 0};

bool IsFlushMarker(const base::BinaryWriter& datagram) {
  return datagram.size() == sizeof(kFlushMarker) &&
         datagram.payload_size() == 0;
}

}  // namespace

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

IpcReceiver::ConnectResult IpcReceiver::Connect(
    const std::wstring& channel_name) {
  VLOG(1) << "Preparing to receive IPC on " << base::WideToUtf8(channel_name);
  base::ThreadStartOptions options;
  options.loop_type = base::MessageLoop::Type::kIO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return ConnectResult::kThreadFailed;
  }
  const std::wstring mailslot_path = GetMailslotPath(channel_name);
  // The backend is started right after this; its sender gives up for good
  // when the mailslot does not exist yet. The signal is given in the task
  // that creates the reader: a task posted after it could come behind the
  // reader's first blocking read, which may wait for ever.
  base::SyncEvent created(base::SyncEvent::ResetMode::kManual,
                          base::SyncEvent::InitialState::kNotSignaled);
  ConnectResult result = ConnectResult::kThreadFailed;
  if (thread_.GetTaskRunner()->PostTask(
          FROM_HERE,
          base::Bind(
              [](IpcReceiver* receiver, const std::wstring& path,
                 ConnectResult* result, base::SyncEvent* event) {
                *result = receiver->CreateReader(path);
                event->Signal();
              },
              this, mailslot_path, &result, &created))) {
    created.Wait();
  }
  if (result != ConnectResult::kConnected) {
    // A flush must not write into a mailslot that is not this receiver's.
    thread_.Stop();
    return result;
  }
  mailslot_path_ = mailslot_path;
  return result;
}

void IpcReceiver::Flush(base::Closure done) {
  pending_flushes_.push_back(std::move(done));
  // Mailslot datagrams are read in the order written: the marker comes
  // back after everything written before it.
  if (!thread_.IsRunning() || !WriteFlushMarker())
    PostFlushMarkerArrived();
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
  mailslot_path_.clear();
  // Markers still in the mailslot are gone with it.
  if (!pending_flushes_.empty()) {
    owner_task_runner_->PostTask(
        FROM_HERE,
        base::BindWeak(&IpcReceiver::RunPendingFlushes, self_ref_, this));
  }
}

IpcReceiver::ConnectResult IpcReceiver::CreateReader(
    const std::wstring& mailslot_path) {
  VLOG(1) << "Creating mailslot " << base::WideToUtf8(mailslot_path);
  base::win::ScopedHandle mailslot(
      CreateMailslotW(mailslot_path.c_str(), kMaxInstallerMessageSize,
                      MAILSLOT_WAIT_FOREVER, nullptr));
  if (!mailslot.IsValid()) {
    const DWORD error = GetLastError();
    PLOG(ERROR) << "Failed creating " << base::WideToUtf8(mailslot_path);
    return error == ERROR_ALREADY_EXISTS ? ConnectResult::kMailslotExists
                                         : ConnectResult::kMailslotFailed;
  }
  reader_ = std::make_unique<MailslotReader>(
      std::move(mailslot), base::Bind<void(const base::BinaryWriter&)>(
                               &IpcReceiver::OnDatagram, this));
  if (reader_->StartOverlappedReads())
    return ConnectResult::kConnected;
  // Wine: the mailslot cannot join the completion port. Its reads then block
  // this thread, and closing must be able to wake it.
  VLOG(1) << "Reading the mailslot with blocking reads";
  if (!wake_up_.Arm(mailslot_path)) {
    reader_.reset();
    return ConnectResult::kMailslotFailed;
  }
  reader_->StartBlockingReads();
  return ConnectResult::kConnected;
}

void IpcReceiver::DeleteReader() {
  reader_.reset();
  wake_up_.Disarm();
}

void IpcReceiver::OnDatagram(const base::BinaryWriter& datagram) {
  if (IsFlushMarker(datagram)) {
    PostFlushMarkerArrived();
    return;
  }
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

bool IpcReceiver::WriteFlushMarker() {
  if (mailslot_path_.empty())
    return false;
  base::win::ScopedHandle mailslot(CreateFileW(
      mailslot_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot.IsValid()) {
    VLOG(1) << "No mailslot to flush";
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(mailslot.Get(), kFlushMarker, sizeof(kFlushMarker), &written,
                 nullptr)) {
    PLOG(ERROR) << "Cannot write to mailslot";
    return false;
  }
  return true;
}

// Any thread.
void IpcReceiver::PostFlushMarkerArrived() {
  owner_task_runner_->PostTask(
      FROM_HERE,
      base::BindWeak(&IpcReceiver::OnFlushMarkerArrived, self_ref_, this));
}

void IpcReceiver::OnFlushMarkerArrived() {
  // A marker that another process wrote finds nothing to run.
  if (pending_flushes_.empty())
    return;
  base::Closure done = std::move(pending_flushes_.front());
  pending_flushes_.pop_front();
  done.Run();
}

void IpcReceiver::RunPendingFlushes() {
  while (!pending_flushes_.empty())
    OnFlushMarkerArrived();
}

}  // namespace installer
